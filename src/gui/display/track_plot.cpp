#include "gui/display/track_plot.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "gui/display/lap_chart.h"
#include "track/thinning.h"

namespace lorvane::display {

namespace {

// The colours of the plot (the classic 16-colour palette).
const QColor kTrackRed(0xFF, 0x00, 0x00);
const QColor kGreen(0x00, 0x80, 0x00);
const QColor kPurple(0x80, 0x00, 0x80);
const QColor kFuchsia(0xFF, 0x00, 0xFF);
const QColor kHighlight(0x33, 0x99, 0xFF, 0x70); // translucent blue

constexpr int kPanThresholdPx = 3;

bool sameView(const Viewport& a, const Viewport& b) {
    return a.xMin == b.xMin && a.xMax == b.xMax && a.yMin == b.yMin && a.yMax == b.yMax &&
           a.widthPx == b.widthPx && a.heightPx == b.heightPx;
}

void fill(QCPCurve* curve, const std::vector<LocalPoint>& points) {
    QVector<QCPCurveData> data;
    data.reserve(static_cast<qsizetype>(points.size()));
    double t = 0;
    for (const LocalPoint& p : points) data.append(QCPCurveData(t++, p.east, p.north));
    curve->data()->set(data, true); // recorded order: the sort key ascends
}

// Ticks at round numbers of the user's distance unit on axes that stay in
// metres: the plot's points, gates and clicks keep their metres.
class UnitTicker : public QCPAxisTicker {
public:
    explicit UnitTicker(double perMetre) : perMetre_(perMetre) {}

protected:
    double getTickStep(const QCPRange& range) override {
        return QCPAxisTicker::getTickStep(
                   QCPRange(range.lower * perMetre_, range.upper * perMetre_)) /
               perMetre_;
    }
    QString getTickLabel(double tick, const QLocale& locale, QChar formatChar,
                         int precision) override {
        return QCPAxisTicker::getTickLabel(tick * perMetre_, locale, formatChar, precision);
    }

private:
    double perMetre_;
};

} // namespace

TrackPlot::TrackPlot(QWidget* parent) : QCustomPlot(parent) {
    setObjectName(QStringLiteral("Chart1"));
    setBackground(Qt::white);
    legend->setVisible(false);
    setNoAntialiasingOnDrag(true);

    QFont tickFont = font();
    xAxis->setTickLabelFont(tickFont);
    yAxis->setTickLabelFont(tickFont);
    xAxis->setLabelFont(tickFont);
    yAxis->setLabelFont(tickFont);
    xAxis->setLabel(tr("East (m)"));
    yAxis->setLabel(tr("North (m)"));
    xAxis->setRange(-100, 100);
    yAxis->setRange(-100, 100);

    // Rubber band zoom with the left button, wheel zoom; panning and the way
    // back to the fitted view are handled below.
    setInteractions(QCP::iRangeZoom);
    setSelectionRectMode(QCP::srmZoom);
    selectionRect()->setPen(QPen(Qt::blue));
    selectionRect()->setBrush(QColor(0, 0, 255, 24));

    auto make = [this](const char* name, const QColor& colour, bool circles) {
        auto* c = new QCPCurve(xAxis, yAxis);
        c->setName(QString::fromLatin1(name));
        c->setObjectName(QString::fromLatin1(name));
        c->setPen(QPen(colour, circles ? 1.5 : 1.0));
        if (circles) {
            c->setScatterStyle(QCPScatterStyle(QCPScatterStyle::ssCircle, colour, colour, 9));
        }
        return c;
    };
    // Creation order is drawing order: the highlighted lap is a broad band
    // under the track (every lap runs along the same line, so a band shows
    // which stretch belongs to the lap without hiding the track), the markers
    // over both.
    curves_[0] = make("LapHighlight", kHighlight, false);
    curves_[0]->setPen(QPen(kHighlight, 7.0, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    curves_[1] = make("Series1", kTrackRed, false);
    curves_[2] = make("Series2", kGreen, true);
    curves_[3] = make("Series3", kTrackRed, true);
    curves_[4] = make("Series4", kPurple, true);
    curves_[5] = make("Series5", kFuchsia, true);
    gates_ = make("GateLines", QColor(0x00, 0x60, 0xC0), false);
    gates_->setPen(QPen(QColor(0x00, 0x60, 0xC0), 2.5, Qt::SolidLine, Qt::FlatCap));

    connect(this, &QCustomPlot::afterLayout, this, &TrackPlot::refreshDrawn);
    setupLapLayer();
}

QCPCurve* TrackPlot::series(int n) const {
    return n >= 0 && n <= 5 ? curves_[n] : nullptr;
}

std::size_t TrackPlot::drawnPoints() const {
    return static_cast<std::size_t>(curves_[1]->dataCount());
}

void TrackPlot::clearTrack(std::size_t expectedPoints) {
    track_.clear();
    track_.shrink_to_fit();
    runs_.clear();
    // Reserved address space costs nothing until the points arrive.
    track_.reserve(std::min<std::size_t>(expectedPoints, std::size_t{1} << 28));
    highlight_.clear();
    running_ = TrackExtent{};
    curves_[4]->data()->clear();
    curves_[5]->data()->clear();
    markDirty();
    replot(rpQueuedReplot);
}

void TrackPlot::appendTrack(std::span<const TrackPoint> points) {
    if (points.empty()) return;
    for (const TrackPoint& p : points) {
        if (runs_.empty() || p.sample != trackSample(track_.size() - 1) + 1)
            runs_.push_back(SampleRun{track_.size(), p.sample});
        track_.push_back(LocalPoint{p.east, p.north});
        if (p.east > running_.maxEast) running_.maxEast = p.east;
        if (p.east < running_.minEast) running_.minEast = p.east;
        if (p.north > running_.maxNorth) running_.maxNorth = p.north;
        if (p.north < running_.minNorth) running_.minNorth = p.north;
    }
    if (!fixed_) followTrack();
    markDirty();
    replot(rpQueuedReplot);
}

void TrackPlot::followTrack() {
    if (auto lim = track::fitTrack(running_)) applyLimits(*lim);
}

void TrackPlot::fixAxes() {
    fixed_ = true;
}

void TrackPlot::fitTo(const TrackExtent& extent) {
    if (auto lim = track::fitTrack(extent)) {
        fitted_ = lim;
        applyLimits(*lim);
        replot(rpQueuedReplot);
    }
}

void TrackPlot::setMarkers(const std::optional<LocalPoint>& start,
                           const std::optional<LocalPoint>& finish) {
    for (int n = 2; n <= 5; ++n) curves_[n]->data()->clear();
    if (start) curves_[2]->addData(0, start->east, start->north);
    if (finish) curves_[3]->addData(0, finish->east, finish->north);
    replot(rpQueuedReplot);
}

void TrackPlot::setGateLines(const std::vector<track::GateLine>& lines) {
    gateLines_ = lines;
    draggedLine_.reset();
    drawGateLines(lines);
}

void TrackPlot::drawGateLines(const std::vector<track::GateLine>& lines) {
    gates_->data()->clear();
    for (QCPItemLine* a : arrows_) removeItem(a);
    arrows_.clear();
    double t = 0;
    const double gap = std::numeric_limits<double>::quiet_NaN();
    for (const track::GateLine& l : lines) {
        if (t > 0) gates_->addData(t++, gap, gap); // a gap between two gates
        gates_->addData(t++, l.from.east, l.from.north);
        gates_->addData(t++, l.to.east, l.to.north);
        if (l.arrowFrom && l.arrowTo) {
            auto* a = new QCPItemLine(this);
            a->setPen(gates_->pen());
            a->setHead(QCPLineEnding::esSpikeArrow);
            a->start->setCoords(l.arrowFrom->east, l.arrowFrom->north);
            a->end->setCoords(l.arrowTo->east, l.arrowTo->north);
            arrows_.push_back(a);
        }
    }
    replot(rpQueuedReplot);
}

void TrackPlot::highlightSamples(std::int32_t first, std::int32_t last) {
    highlight_.clear();
    if (first <= last) {
        const std::size_t lo = indexOfSample(first), hi = indexOfSample(last + 1);
        if (lo < hi)
            highlight_.assign(track_.begin() + static_cast<std::ptrdiff_t>(lo),
                              track_.begin() + static_cast<std::ptrdiff_t>(hi));
    }
    highlightDirty_ = true;
    replot(rpQueuedReplot);
}

std::int32_t TrackPlot::trackSample(std::size_t i) const {
    auto it = std::upper_bound(runs_.begin(), runs_.end(), i,
                               [](std::size_t idx, const SampleRun& r) { return idx < r.index; });
    const SampleRun& r = *std::prev(it);
    return r.sample + static_cast<std::int32_t>(i - r.index);
}

std::size_t TrackPlot::indexOfSample(std::int32_t s) const {
    // The last run that starts at or before sample s.
    auto it = std::upper_bound(runs_.begin(), runs_.end(), s,
                               [](std::int32_t v, const SampleRun& r) { return v < r.sample; });
    if (it == runs_.begin()) return runs_.empty() ? track_.size() : runs_.front().index;
    const SampleRun& r = *std::prev(it);
    const std::size_t end = it == runs_.end() ? track_.size() : it->index;
    return std::min(r.index + static_cast<std::size_t>(s - r.sample), end);
}

void TrackPlot::resetView() {
    if (fitted_) {
        applyLimits(*fitted_);
    } else {
        followTrack();
    }
    replot(rpQueuedReplot);
}

void TrackPlot::applyLimits(const AxisLimits& lim) {
    xAxis->setRange(lim.eastMin, lim.eastMax);
    yAxis->setRange(lim.northMin, lim.northMax);
}

AxisLimits TrackPlot::currentLimits() const {
    return {xAxis->range().lower, xAxis->range().upper, yAxis->range().lower, yAxis->range().upper};
}

Viewport TrackPlot::viewport() const {
    Viewport v;
    v.xMin = xAxis->range().lower;
    v.xMax = xAxis->range().upper;
    v.yMin = yAxis->range().lower;
    v.yMax = yAxis->range().upper;
    v.widthPx = std::max(1, axisRect()->width());
    v.heightPx = std::max(1, axisRect()->height());
    return v;
}

void TrackPlot::refreshDrawn() {
    const Viewport v = viewport();
    const bool moved = !sameView(v, lastView_);
    if (!moved && !trackDirty_ && !highlightDirty_) return;
    lastView_ = v;
    if (moved || trackDirty_) {
        track::thinForView(track_, v, scratch_);
        fill(curves_[1], scratch_);
    }
    if (moved || highlightDirty_) {
        track::thinForView(highlight_, v, scratch_);
        fill(curves_[0], scratch_);
    }
    trackDirty_ = highlightDirty_ = false;
}

void TrackPlot::mousePressEvent(QMouseEvent* event) {
    if (placing_ && event->button() == Qt::LeftButton) {
        emit placeClicked(planeAt(event->position()));
        event->accept();
        return;
    }
    if (event->button() == Qt::LeftButton) {
        if (auto h = handleAt(event->position())) {
            dragging_ = h;
            // The dragged gate's line is the one centred on its point 1.
            draggedLine_.reset();
            double best = 0.01 * 0.01; // m²
            const LocalPoint p1 = handles_[*h];
            for (std::size_t i = 0; i < gateLines_.size(); ++i) {
                const track::GateLine& l = gateLines_[i];
                const double de = (l.from.east + l.to.east) / 2 - p1.east;
                const double dn = (l.from.north + l.to.north) / 2 - p1.north;
                if (de * de + dn * dn <= best) {
                    best = de * de + dn * dn;
                    draggedLine_ = i;
                }
            }
            setCursor(Qt::ClosedHandCursor);
            event->accept();
            return;
        }
    }
    if (event->button() == Qt::RightButton || event->button() == Qt::MiddleButton) {
        panning_ = true;
        panMoved_ = false;
        panButton_ = event->button();
        panStart_ = event->position().toPoint();
        panX_ = xAxis->range();
        panY_ = yAxis->range();
        event->accept();
        return;
    }
    QCustomPlot::mousePressEvent(event);
}

void TrackPlot::mouseMoveEvent(QMouseEvent* event) {
    if (dragging_) {
        previewDrag(planeAt(event->position()));
        event->accept();
        return;
    }
    if (!panning_) {
        QCustomPlot::mouseMoveEvent(event);
        return;
    }
    const QPoint pos = event->position().toPoint();
    if (!panMoved_ && (pos - panStart_).manhattanLength() < kPanThresholdPx) return;
    panMoved_ = true;
    xAxis->setRange(panX_);
    yAxis->setRange(panY_);
    const double dx = xAxis->pixelToCoord(panStart_.x()) - xAxis->pixelToCoord(pos.x());
    const double dy = yAxis->pixelToCoord(panStart_.y()) - yAxis->pixelToCoord(pos.y());
    xAxis->setRange(panX_.lower + dx, panX_.upper + dx);
    yAxis->setRange(panY_.lower + dy, panY_.upper + dy);
    replot(rpQueuedReplot);
}

void TrackPlot::mouseReleaseEvent(QMouseEvent* event) {
    if (dragging_ && event->button() == Qt::LeftButton) {
        const int handle = static_cast<int>(*dragging_);
        dragging_.reset();
        // The lines as they were: the window draws the ones it then uses.
        if (draggedLine_) {
            draggedLine_.reset();
            drawGateLines(gateLines_);
        }
        setCursor(placing_ ? Qt::CrossCursor : Qt::ArrowCursor);
        event->accept();
        emit gateDragged(handle, planeAt(event->position()));
        return;
    }
    if (panning_ && event->button() == panButton_) {
        panning_ = false;
        if (!panMoved_ && panButton_ == Qt::RightButton) resetView();
        event->accept();
        return;
    }
    QCustomPlot::mouseReleaseEvent(event);
}

void TrackPlot::mouseDoubleClickEvent(QMouseEvent* event) {
    QCustomPlot::mouseDoubleClickEvent(event);
    if (event->button() == Qt::LeftButton) resetView();
}

// --- placing lines -------------------------------------------------------------

void TrackPlot::setPlacing(bool on) {
    placing_ = on;
    setSelectionRectMode(on ? QCP::srmNone : QCP::srmZoom);
    setCursor(on ? Qt::CrossCursor : Qt::ArrowCursor);
}

LocalPoint TrackPlot::planeAt(const QPointF& pos) const {
    return LocalPoint{xAxis->pixelToCoord(pos.x()), yAxis->pixelToCoord(pos.y())};
}

void TrackPlot::previewDrag(const LocalPoint& at) {
    if (!draggedLine_ || !std::isfinite(at.east) || !std::isfinite(at.north)) return;
    track::GateLine line = gateLines_[*draggedLine_];
    const double reach = std::hypot(line.to.east - line.from.east,
                                    line.to.north - line.from.north) /
                         2;
    if (!(reach > 0)) return;
    // The direction the gate faces now (point 1 -> point 2), as gateLines drew it.
    const double ue0 = -(line.to.north - line.from.north) / (2 * reach);
    const double un0 = (line.to.east - line.from.east) / (2 * reach);
    LocalPoint p = at;
    double ue = ue0, un = un0;
    // As the drop will place it: on the nearest track point, facing the
    // first point at least kPlacedGateAhead further on (or, at the end, the
    // way the track came).
    std::size_t nearest = track_.size();
    double bestD = std::numeric_limits<double>::infinity();
    for (std::size_t i = 0; i < track_.size(); ++i) {
        const double de = track_[i].east - at.east, dn = track_[i].north - at.north;
        const double d = de * de + dn * dn;
        if (d < bestD) {
            bestD = d;
            nearest = i;
        }
    }
    if (nearest < track_.size()) {
        p = track_[nearest];
        auto towards = [&](const LocalPoint& from, const LocalPoint& to) {
            const double de = to.east - from.east, dn = to.north - from.north;
            const double len = std::hypot(de, dn);
            if (!(len >= track::kPlacedGateAhead) || !std::isfinite(len)) return false;
            ue = de / len;
            un = dn / len;
            return true;
        };
        bool found = false;
        for (std::size_t i = nearest + 1; i < track_.size() && !found; ++i)
            found = towards(p, track_[i]);
        for (std::size_t i = nearest; i-- > 0 && !found;) found = towards(track_[i], p);
    }
    line.from = LocalPoint{p.east - un * reach, p.north + ue * reach};
    line.to = LocalPoint{p.east + un * reach, p.north - ue * reach};
    if (line.arrowFrom && line.arrowTo) {
        const double ae = line.arrowTo->east - line.arrowFrom->east;
        const double an = line.arrowTo->north - line.arrowFrom->north;
        const double length = std::hypot(ae, an);
        const double sign = ae * ue0 + an * un0 >= 0 ? 1.0 : -1.0;
        line.arrowFrom = p;
        line.arrowTo = LocalPoint{p.east + sign * ue * length, p.north + sign * un * length};
    }
    std::vector<track::GateLine> lines = gateLines_;
    lines[*draggedLine_] = line;
    drawGateLines(lines);
}

std::optional<std::size_t> TrackPlot::handleAt(const QPointF& pos) const {
    constexpr double kReachPx = 8.0;
    std::optional<std::size_t> best;
    double bestD = kReachPx * kReachPx;
    for (std::size_t i = 0; i < handles_.size(); ++i) {
        const double dx = xAxis->coordToPixel(handles_[i].east) - pos.x();
        const double dy = yAxis->coordToPixel(handles_[i].north) - pos.y();
        const double d = dx * dx + dy * dy;
        if (d <= bestD) {
            best = i;
            bestD = d;
        }
    }
    return best;
}

// --- lap against lap ---------------------------------------------------------

void TrackPlot::setupLapLayer() {
    setMouseTracking(true);
    addLayer(QStringLiteral("laps"), layer(QStringLiteral("main")), QCustomPlot::limAbove);
    QCPLayer* laps = layer(QStringLiteral("laps"));
    // The chosen lap in a strong colour over the red track.
    curves_[0]->setLayer(laps);
    curves_[0]->setPen(QPen(referenceLapColour(), 3.0, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    auto make = [&](const char* name, const QPen& pen) {
        auto* c = new QCPCurve(xAxis, yAxis);
        c->setName(QString::fromLatin1(name));
        c->setObjectName(QString::fromLatin1(name));
        c->setPen(pen);
        c->setLayer(laps);
        return c;
    };
    refPath_ = make("ReferenceLap",
                    QPen(referenceLapColour(), 3.0, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    cmpPath_ = make("ComparedLap",
                    QPen(comparedLapColour(), 2.0, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    cursorMark_ = make("LapCursor", QPen(Qt::black));
    cursorMark_->setLineStyle(QCPCurve::lsNone);
    cursorMark_->setScatterStyle(
        QCPScatterStyle(QCPScatterStyle::ssCircle, QPen(Qt::black, 2.0), QColor(Qt::yellow), 11));
    // A coloured lap over every path, under the cursor.
    addLayer(QStringLiteral("colouring"), laps, QCustomPlot::limAbove);
    coloured_ = new ColouredPath(xAxis, yAxis, QStringLiteral("colouring"));
    addLayer(QStringLiteral("cursor"), layer(QStringLiteral("colouring")), QCustomPlot::limAbove);
    cursorMark_->setLayer(QStringLiteral("cursor"));
    plotLayout()->setAutoMargins(QCP::msNone);
    connect(this, &QCustomPlot::afterLayout, this, &TrackPlot::keepEqualScale);
}

void TrackPlot::keepEqualScale() {
    // The axes keep the limits they were given; the plot area takes their
    // shape instead, as large as the room the widget leaves it and centred
    // in it, with blank margins on the other two sides.
    QCPLayout* grid = plotLayout();
    const QMargins was = grid->margins();
    const int roomW = axisRect()->width() + was.left() + was.right();
    const int roomH = axisRect()->height() + was.top() + was.bottom();
    const double across = xAxis->range().size(), up = yAxis->range().size();
    if (roomW <= 0 || roomH <= 0 || !(across > 0) || !(up > 0)) return;
    int w = roomW, h = roomH;
    if (across * roomH > up * roomW)
        h = static_cast<int>(std::lround(roomW * up / across));
    else
        w = static_cast<int>(std::lround(roomH * across / up));
    const int padW = roomW - std::max(w, 1), padH = roomH - std::max(h, 1);
    const QMargins want(padW / 2, padH / 2, padW - padW / 2, padH - padH / 2);
    if (want == was) return;
    grid->setMargins(want);
    // Laid out again at once: the tick labels, hence the axes' own margins,
    // depend on the limits alone, which stay.
    grid->update(QCPLayoutElement::upPreparation);
    grid->update(QCPLayoutElement::upMargins);
    grid->update(QCPLayoutElement::upLayout);
    refreshDrawn();
}

void TrackPlot::setLapPaths(const std::vector<LocalPoint>& reference,
                            const std::vector<LocalPoint>& compared) {
    fill(refPath_, reference);
    fill(cmpPath_, compared);
    replot(rpQueuedReplot);
}

void TrackPlot::setPathColours(bool compared, std::vector<LocalPoint> path,
                               std::vector<double> values, QString name, std::string unit,
                               ColouredPath::Scale scale) {
    coloured_->setPath(std::move(path), std::move(values), std::move(name), std::move(unit), scale);
    refPath_->setVisible(coloured_->empty() || compared);
    cmpPath_->setVisible(coloured_->empty() || !compared);
    replot(rpQueuedReplot);
}

void TrackPlot::setUnits(const Units& units) {
    coloured_->setUnits(units);
    const QString unit = QString::fromLatin1(units.distanceLabel());
    xAxis->setLabel(tr("East (%1)").arg(unit));
    yAxis->setLabel(tr("North (%1)").arg(unit));
    const double perMetre = units.distanceFromMetres(1.0);
    for (QCPAxis* a : {xAxis, yAxis}) {
        if (perMetre == 1.0)
            a->setTicker(QSharedPointer<QCPAxisTicker>::create());
        else
            a->setTicker(QSharedPointer<UnitTicker>::create(perMetre));
    }
    replot(rpQueuedReplot);
}

void TrackPlot::setCursorPoint(const std::optional<LocalPoint>& at) {
    cursorMark_->data()->clear();
    if (at) cursorMark_->addData(0, at->east, at->north);
    replot(rpQueuedReplot);
}

} // namespace lorvane::display
