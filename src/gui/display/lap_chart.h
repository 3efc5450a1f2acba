// Chart2, the strip chart under the track plot: the speed of the chosen lap
// against the distance along it, and with a compared lap its speed too and the
// time it loses (positive) or gains on the chosen lap along the distance, on
// the right-hand axis. A cursor line follows the mouse, or the distance the
// window gives it.
//
// Each curve holds at most one point per two pixels of the chart's width
// (the lowest and the highest of the samples behind them), recomputed when
// the chart is resized or zoomed, so a long lap draws as fast as a short one.
#pragma once

#include <memory>
#include <optional>
#include <vector>

#include <qcustomplot.h>

#include "analysis/lap_trace.h"

namespace lorvane::display {

// Colours of the two laps, on the chart and on the track alike.
QColor referenceLapColour();
QColor comparedLapColour();

class LapChart : public QCustomPlot {
    Q_OBJECT
public:
    explicit LapChart(QWidget* parent = nullptr);

    // The chosen lap and, when given, the one compared with it; nothing
    // empties the chart. The axes are fitted to them.
    void setLaps(std::shared_ptr<const LapTrace> reference,
                 std::shared_ptr<const LapTrace> compared);
    const LapTrace* reference() const { return reference_.get(); }
    const LapTrace* compared() const { return compared_.get(); }

    // Marks distance `d` along the chosen lap (nothing removes the mark) and
    // says there what the laps show.
    void setCursorDistance(std::optional<double> d);
    std::optional<double> cursorDistance() const { return cursor_; }
    QString cursorText() const;

    // The least height at which the axes' labels and the cursor's line of
    // text are drawn whole and apart: the band of the distance axis under
    // the plot, and a plot tall enough for the speed and delta axes' titles
    // and tick labels, all in the chart's font.
    int minimumReadableHeight() const;

    QCPGraph* referenceSpeed() const { return graph(0); }
    QCPGraph* comparedSpeed() const { return graph(1); }
    QCPGraph* delta() const { return graph(2); }

signals:
    // The mouse moved over the chart to distance d, or left it (nothing).
    void cursorMoved(std::optional<double> distance);

protected:
    void mouseMoveEvent(QMouseEvent* event) override;
    void leaveEvent(QEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    void refreshDrawn();
    void fitAxes();

    std::shared_ptr<const LapTrace> reference_, compared_;
    std::vector<double> deltaDistance_, deltaTime_;
    std::optional<double> cursor_;
    QCPItemStraightLine* cursorLine_ = nullptr;
    QCPItemText* cursorLabel_ = nullptr;
};

// The points of a curve of (x, y) pairs, in x order, that a chart `columns`
// pixels wide across [lo, hi] draws: for each two columns the lowest and the
// highest y in order, so at most `columns` points (and the first and last
// point inside the range).
void thinForColumns(const std::vector<double>& x, const std::vector<double>& y, double lo,
                    double hi, int columns, QVector<double>& outX, QVector<double>& outY);

} // namespace lorvane::display
