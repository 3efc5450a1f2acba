// Chart1: the track of the latest load in the local plane (east across, north
// up), the start/finish markers and the highlighted lap.
//
// The whole track is kept here; the curve that is painted holds only what can
// be seen at the current zoom (see thinning.h), recomputed whenever the view
// or the data changes, so a track of a million points zooms and pans smoothly.
#pragma once

#include <optional>
#include <span>
#include <vector>

#include <qcustomplot.h>

#include "analysis/units.h"
#include "gui/display/coloured_path.h"
#include "track/fit_rule.h"
#include "track/gate_lines.h"
#include "track/thinning.h"
#include "track/track.h"

namespace lorvane::display {

using track::AxisLimits;
using track::Viewport;

class TrackPlot : public QCustomPlot {
    Q_OBJECT
public:
    explicit TrackPlot(QWidget* parent = nullptr);

    // Track reset: the track, the highlighted lap and the unused marker series
    // are emptied. The start/finish markers stay until the end of the load.
    // `expectedPoints` (an estimate from the file's size) saves regrowing the
    // track while a long load arrives.
    void clearTrack(std::size_t expectedPoints = 0);
    // Track points of the running load, in recorded order.
    void appendTrack(std::span<const TrackPoint> points);

    // Plot closing: from now on the axes keep their limits (until then they
    // follow the track as it grows). Then, when `extent` holds anything, the
    // axes are fitted to it.
    void fixAxes();
    void fitTo(const TrackExtent& extent);
    // Empties the marker series, then puts the start gate in Series2 and the
    // finish gate in Series3 where given.
    void setMarkers(const std::optional<LocalPoint>& start,
                    const std::optional<LocalPoint>& finish);

    // The gates as lines across the track, with an arrow for the counted
    // direction (replaces the previous ones; none removes them).
    void setGateLines(const std::vector<track::GateLine>& lines);
    QCPCurve* gateCurve() const { return gates_; }
    int gateArrows() const { return static_cast<int>(arrows_.size()); }

    // Draws samples first..last (inclusive) of the track in the highlight
    // colour; an empty range removes the highlight.
    void highlightSamples(std::int32_t first, std::int32_t last);
    void clearHighlight() { highlightSamples(1, 0); }

    // Back to the fitted view (or the whole track before the first fit).
    void resetView();

    // The whole track: 16 bytes a point, the sample indices kept as runs.
    const std::vector<LocalPoint>& track() const { return track_; }
    std::int32_t trackSample(std::size_t i) const;
    std::size_t drawnPoints() const;
    std::size_t highlightedPoints() const { return highlight_.size(); }
    bool axesFixed() const { return fixed_; }
    const std::optional<AxisLimits>& fittedLimits() const { return fitted_; }
    AxisLimits currentLimits() const;

    // Series1..Series5 by number; LapHighlight is series 0.
    QCPCurve* series(int n) const;

    // Lap against lap: the paths of the chosen lap and of the one compared
    // with it, drawn over the track and its highlight (an empty path removes
    // one). Their curves lie on the "laps" layer, above everything else.
    void setLapPaths(const std::vector<LocalPoint>& reference,
                     const std::vector<LocalPoint>& compared);
    QCPCurve* referencePath() const { return refPath_; }
    QCPCurve* comparedPath() const { return cmpPath_; }
    // The linked cursor: a marker at `at` (nothing removes it).
    void setCursorPoint(const std::optional<LocalPoint>& at);
    QCPCurve* cursorMarker() const { return cursorMark_; }
    // Colours the chosen lap's path (or the compared lap's) by a value at
    // each of its points, with a colour bar, over the plain path it hides;
    // an empty path ends the colouring.
    void setPathColours(bool compared, std::vector<LocalPoint> path, std::vector<double> values,
                        QString name, std::string unit, ColouredPath::Scale scale);
    void clearPathColours() { setPathColours(false, {}, {}, QString(), std::string(), {}); }
    const ColouredPath* colouredPath() const { return coloured_; }
    // The colour bar's values in the user's units.
    void setUnits(const Units& units);
    // Placing lines: while on, a left click reports the point of the plane
    // under it (placeClicked) instead of starting a zoom.
    void setPlacing(bool on);
    bool placing() const { return placing_; }
    // The point of the plane under a widget position.
    LocalPoint planeAt(const QPointF& pos) const;

    // The points a left drag may move (each gate's point 1); a press within
    // a few pixels of one starts the drag, and the release reports where it
    // was dropped (gateDragged with the point's index in `handles`). While
    // the mouse moves, that gate's line is drawn where the drop would put it:
    // across the nearest point of the track, square to the way it runs.
    void setGateHandles(std::vector<LocalPoint> handles) { handles_ = std::move(handles); }
    const std::vector<LocalPoint>& gateHandles() const { return handles_; }
    // The handle within reach of a widget position, if any.
    std::optional<std::size_t> handleAt(const QPointF& pos) const;

signals:
    void placeClicked(lorvane::LocalPoint point);
    void gateDragged(int handle, lorvane::LocalPoint point);

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;

private:
    // The "laps" layer and what is drawn on it: the highlight, the two lap
    // paths and the cursor, over the track.
    void setupLapLayer();
    // One metre as long across as up, after every layout, whatever the
    // widget's shape.
    void keepEqualScale();
    void drawGateLines(const std::vector<track::GateLine>& lines);
    // The line of the dragged gate moved to the track nearest `at`.
    void previewDrag(const LocalPoint& at);

    void applyLimits(const AxisLimits& lim);
    void followTrack();
    void markDirty() { trackDirty_ = highlightDirty_ = true; }
    void refreshDrawn();
    // Index of the first track point whose sample is `s` or later.
    std::size_t indexOfSample(std::int32_t s) const;
    Viewport viewport() const;

    QCPCurve* curves_[6] = {};
    QCPCurve* gates_ = nullptr;
    QCPCurve* refPath_ = nullptr;
    QCPCurve* cmpPath_ = nullptr;
    QCPCurve* cursorMark_ = nullptr;
    ColouredPath* coloured_ = nullptr;
    std::vector<QCPItemLine*> arrows_;
    std::vector<LocalPoint> track_;
    // Consecutive samples make one run; a new run starts where samples were
    // not plotted (before the base point, or at a latitude of 0).
    struct SampleRun {
        std::size_t index;   // first track point of the run
        std::int32_t sample; // its sample
    };
    std::vector<SampleRun> runs_;
    std::vector<LocalPoint> highlight_; // the highlighted lap's points, whole
    TrackExtent running_;               // extent of track_
    bool fixed_ = false;
    std::optional<AxisLimits> fitted_;
    // What must be thinned again before the next paint: a new lap highlight
    // alone leaves the whole track's thinning as it was.
    bool trackDirty_ = true;
    bool highlightDirty_ = true;
    Viewport lastView_;
    std::vector<LocalPoint> scratch_;

    // Panning with the right or middle button; a right click that does not
    // move goes back to the fitted view.
    bool panning_ = false;
    bool panMoved_ = false;
    Qt::MouseButton panButton_ = Qt::NoButton;
    QPoint panStart_;
    QCPRange panX_, panY_;

    bool placing_ = false;
    std::vector<LocalPoint> handles_;
    std::optional<std::size_t> dragging_;
    std::vector<track::GateLine> gateLines_;
    std::optional<std::size_t> draggedLine_; // in gateLines_, the dragged handle's
};

} // namespace lorvane::display
