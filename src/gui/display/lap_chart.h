// Chart2, the strip chart under the track plot: the chosen lap's channels
// along the lap, one pane per channel stacked over a shared x axis (distance
// along the chosen lap, or time into the lap), the derived speed first by
// default. With a compared lap each pane shows its values too, and the top
// pane the time it loses (positive) or gains on the chosen lap along the
// distance, on the right-hand axis. A cursor line across every pane follows
// the mouse, or the distance the window gives it, and reads each pane's
// values for both laps.
//
// Each curve holds at most one point per two pixels of the chart's width
// (the lowest and the highest of the samples behind them), recomputed when
// the chart is resized or zoomed, so a long lap draws as fast as a short one.
// The values along a lap are handed in once per lap (see ChartChannel); the
// chart keeps them in the shown units and only thins them again on a paint.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <qcustomplot.h>

#include "analysis/lap_trace.h"
#include "analysis/units.h"

namespace lorvane::display {

// Colours of the two laps, on the chart and on the track alike.
QColor referenceLapColour();
QColor comparedLapColour();

// One pane of the chart: the derived speed (values taken from the traces),
// or a channel of the log with its values at every point of each lap's trace.
struct ChartChannel {
    bool speed = false;
    QString name;                  // as the log names it
    std::string unit;              // as the log gives it ("" when none)
    std::vector<double> reference; // one per point of the reference trace; NaN: no value
    std::vector<double> compared;  // one per point of the compared trace; empty: none
    static ChartChannel derivedSpeed() {
        ChartChannel c;
        c.speed = true;
        c.name = QStringLiteral("Speed");
        c.unit = "km/h";
        return c;
    }
};

class LapChart : public QCustomPlot {
    Q_OBJECT
public:
    enum class XAxis { Distance, Time };

    explicit LapChart(QWidget* parent = nullptr);

    // The chosen lap and, when given, the one compared with it; nothing
    // empties the chart. The axes are fitted to them. The channel panes keep
    // their values until setChannels gives those of the new laps.
    void setLaps(std::shared_ptr<const LapTrace> reference,
                 std::shared_ptr<const LapTrace> compared);
    const LapTrace* reference() const { return reference_.get(); }
    const LapTrace* compared() const { return compared_.get(); }

    // The panes, top to bottom (none: the speed alone). A channel whose
    // values do not match the laps' points is drawn without them.
    void setChannels(std::vector<ChartChannel> channels);
    int paneCount() const { return static_cast<int>(panes_.size()); }
    QCPAxisRect* pane(int i) const { return panes_[static_cast<std::size_t>(i)].rect; }
    QCPGraph* referenceGraph(int i) const { return panes_[static_cast<std::size_t>(i)].ref; }
    QCPGraph* comparedGraph(int i) const { return panes_[static_cast<std::size_t>(i)].cmp; }
    QString paneName(int i) const { return channels_[static_cast<std::size_t>(i)].name; }

    void setXAxis(XAxis x);
    XAxis xAxisKind() const { return xKind_; }
    // Speeds, distances and the channels in them shown in `units`.
    void setUnits(const Units& units);
    const Units& units() const { return units_; }

    // Marks distance `d` along the chosen lap (nothing removes the mark) and
    // says there what the laps show.
    void setCursorDistance(std::optional<double> d);
    std::optional<double> cursorDistance() const { return cursor_; }
    QString cursorText() const;
    // Pane i's value at the cursor, in the shown unit: the chosen lap's at
    // the cursor's distance, the compared lap's at the same distance (or
    // the same time into the lap on a time axis). Empty without one.
    std::optional<double> cursorValue(int pane, bool compared) const;

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
    // A right click on the chart: where to open its menu.
    void menuRequested(QPoint globalPos);

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void leaveEvent(QEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    struct Pane {
        QCPAxisRect* rect = nullptr;
        QCPGraph* ref = nullptr;
        QCPGraph* cmp = nullptr;
        QCPItemStraightLine* cursor = nullptr;
        QCPItemText* label = nullptr;
        std::vector<double> refY, cmpY; // in the shown unit
        QString unit;                   // the shown unit
        int decimals = 1;               // for its values, from their spread
    };
    void buildPanes();
    void computeValues();
    void refreshDrawn();
    void fitAxes();
    void labelAxes();
    void placeCursor();
    double xOfDistance(double metres) const;
    std::optional<double> distanceOfX(double x) const;
    QString paneReading(int i) const;

    std::shared_ptr<const LapTrace> reference_, compared_;
    std::vector<ChartChannel> channels_;
    std::vector<Pane> panes_;
    XAxis xKind_ = XAxis::Distance;
    Units units_;
    std::vector<double> refX_, cmpX_;               // every point's x, in the shown unit
    std::vector<double> deltaDistance_, deltaTime_; // metres along the chosen lap, seconds
    std::vector<double> deltaX_;
    std::optional<double> cursor_;
    QCPMarginGroup* margins_ = nullptr;
    bool syncing_ = false;
};

// The points of a curve of (x, y) pairs, in x order, that a chart `columns`
// pixels wide across [lo, hi] draws: for each two columns the lowest and the
// highest y in order, so at most `columns` points (and the first and last
// point inside the range).
void thinForColumns(const std::vector<double>& x, const std::vector<double>& y, double lo,
                    double hi, int columns, QVector<double>& outX, QVector<double>& outY);

// The value of the curve (x, y), x in order, at `at`: linear between the
// points either side, the one with a value where the other has none; empty
// outside the curve or where neither has one.
std::optional<double> valueAlong(const std::vector<double>& x, const std::vector<double>& y,
                                 double at);

} // namespace lorvane::display
