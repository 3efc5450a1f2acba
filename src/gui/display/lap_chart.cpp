#include "gui/display/lap_chart.h"

#include <algorithm>
#include <cmath>

#include "analysis/lap_delta.h"

namespace lorvane::display {

namespace {

// How the chart names a lap: its number, or REF for a lap from outside the
// log (a reference file's, a stored session's).
QString lapName(const LapTrace& t) {
    return t.lap > 0 ? LapChart::tr("lap %1").arg(t.lap) : LapChart::tr("REF");
}

// Delta samples along the chosen lap before thinning for the screen.
constexpr std::size_t kDeltaSteps = 4000;

QFont smallFont(const QFont& base) {
    QFont small = base;
    small.setPointSize(8);
    return small;
}

// The position along `trace` at which its time into the lap is `t`.
std::optional<double> distanceAtTime(const LapTrace& trace, double t) {
    const auto& p = trace.points;
    if (p.empty() || t < p.front().time || t > p.back().time) return std::nullopt;
    const auto it = std::lower_bound(p.begin(), p.end(), t,
                                     [](const TracePoint& q, double v) { return q.time < v; });
    if (it == p.begin()) return it->distance;
    const TracePoint& a = *(it - 1);
    const TracePoint& b = *it;
    const double u = b.time > a.time ? (t - a.time) / (b.time - a.time) : 1.0;
    return a.distance + (b.distance - a.distance) * u;
}

void finiteRange(const std::vector<double>& v, double& lo, double& hi) {
    for (double x : v) {
        if (!std::isfinite(x)) continue;
        lo = std::min(lo, x);
        hi = std::max(hi, x);
    }
}

} // namespace

QColor referenceLapColour() {
    return QColor(0x00, 0x40, 0xFF);
}

QColor comparedLapColour() {
    return QColor(0xFF, 0x8C, 0x00);
}

void thinForColumns(const std::vector<double>& x, const std::vector<double>& y, double lo,
                    double hi, int columns, QVector<double>& outX, QVector<double>& outY) {
    outX.clear();
    outY.clear();
    if (x.empty() || x.size() != y.size() || columns < 2 || !(hi > lo)) return;
    const auto first = static_cast<std::size_t>(std::lower_bound(x.begin(), x.end(), lo) -
                                                x.begin());
    const auto last = static_cast<std::size_t>(std::upper_bound(x.begin(), x.end(), hi) -
                                               x.begin());
    // One point either side of the range, so the curve runs to the edges.
    const std::size_t from = first > 0 ? first - 1 : first;
    const std::size_t to = std::min(x.size(), last + 1);
    if (from >= to) return;
    const int buckets = columns / 2;
    const double width = (hi - lo) / buckets;
    auto bucketOf = [&](double v) {
        return std::clamp(static_cast<int>(std::floor((v - lo) / width)), -1, buckets);
    };
    std::size_t i = from;
    while (i < to) {
        const int b = bucketOf(x[i]);
        std::size_t lowest = i, highest = i;
        std::size_t j = i;
        for (; j < to && bucketOf(x[j]) == b; ++j) {
            // A sample without a value neither wins nor hides the others.
            if (std::isnan(y[lowest]) || y[j] < y[lowest]) lowest = j;
            if (std::isnan(y[highest]) || y[j] > y[highest]) highest = j;
        }
        const std::size_t a = std::min(lowest, highest), c = std::max(lowest, highest);
        outX.append(x[a]);
        outY.append(y[a]);
        if (c != a) {
            outX.append(x[c]);
            outY.append(y[c]);
        }
        i = j;
    }
}

std::optional<double> valueAlong(const std::vector<double>& x, const std::vector<double>& y,
                                 double at) {
    if (x.empty() || x.size() != y.size() || at < x.front() || at > x.back()) return std::nullopt;
    const auto j = static_cast<std::size_t>(std::lower_bound(x.begin(), x.end(), at) - x.begin());
    if (j == 0) return std::isfinite(y[0]) ? std::optional<double>(y[0]) : std::nullopt;
    const double a = y[j - 1], b = y[j];
    if (!std::isfinite(a) && !std::isfinite(b)) return std::nullopt;
    if (!std::isfinite(a)) return b;
    if (!std::isfinite(b)) return a;
    const double u = x[j] > x[j - 1] ? (at - x[j - 1]) / (x[j] - x[j - 1]) : 1.0;
    return a + (b - a) * u;
}

LapChart::LapChart(QWidget* parent) : QCustomPlot(parent) {
    setObjectName(QStringLiteral("Chart2"));
    setBackground(Qt::white);
    legend->setVisible(false);
    setMouseTracking(true);

    const QFont small = smallFont(font());
    for (QCPAxis* a : {xAxis, yAxis, yAxis2}) {
        a->setTickLabelFont(small);
        a->setLabelFont(small);
    }
    yAxis2->setVisible(false);
    axisRect()->setMargins(QMargins(0, 0, 0, 0));
    plotLayout()->setRowSpacing(0);
    margins_ = new QCPMarginGroup(this);
    axisRect()->setMarginGroup(QCP::msLeft | QCP::msRight, margins_);

    Pane top;
    top.rect = axisRect();
    top.ref = addGraph();
    top.ref->setName(QStringLiteral("Series6"));
    top.ref->setObjectName(QStringLiteral("Series6"));
    top.ref->setPen(QPen(referenceLapColour(), 1.5));
    top.cmp = addGraph();
    top.cmp->setName(QStringLiteral("ComparedSpeed"));
    top.cmp->setPen(QPen(comparedLapColour(), 1.5));
    QCPGraph* d = addGraph(xAxis, yAxis2);
    d->setName(QStringLiteral("Delta"));
    d->setPen(QPen(Qt::black, 1.0));

    top.cursor = new QCPItemStraightLine(this);
    top.cursor->setPen(QPen(QColor(0x40, 0x40, 0x40), 1.0, Qt::DashLine));
    top.cursor->setVisible(false);
    top.label = new QCPItemText(this);
    top.label->setPositionAlignment(Qt::AlignTop | Qt::AlignLeft);
    top.label->position->setType(QCPItemPosition::ptAxisRectRatio);
    top.label->position->setCoords(0.01, 0.02);
    top.label->setFont(small);
    top.label->setBrush(QColor(255, 255, 255, 220));
    top.label->setVisible(false);
    panes_.push_back(top);
    channels_.push_back(ChartChannel::derivedSpeed());

    setInteractions(QCP::iRangeZoom | QCP::iRangeDrag);
    axisRect()->setRangeZoom(Qt::Horizontal);
    axisRect()->setRangeDrag(Qt::Horizontal);
    connect(xAxis, qOverload<const QCPRange&>(&QCPAxis::rangeChanged), this,
            [this](const QCPRange& r) {
                if (syncing_) return;
                syncing_ = true;
                for (std::size_t i = 1; i < panes_.size(); ++i)
                    panes_[i].rect->axis(QCPAxis::atBottom)->setRange(r);
                syncing_ = false;
                refreshDrawn();
            });
    labelAxes();
}

int LapChart::minimumReadableHeight() const {
    const QFontMetrics ticks(xAxis->tickLabelFont()), titles(xAxis->labelFont());
    // Under the plot: the ticks, their labels and the axis title.
    const int band = std::max(xAxis->tickLengthOut(), xAxis->subTickLengthOut()) +
                     xAxis->tickLabelPadding() + ticks.height() + xAxis->labelPadding() +
                     titles.height() + xAxis->padding() + xAxis->offset();
    // The plot: the vertical titles along its height, and the ticker's five
    // or so labels with some room between them.
    int plot = 5 * ticks.height();
    for (const QCPAxis* a : {yAxis, yAxis2})
        plot = std::max(plot, titles.horizontalAdvance(a->label()) + ticks.height());
    // Half a label over the top of the plot, for its highest tick.
    return band + plot + ticks.height() / 2;
}

void LapChart::setLaps(std::shared_ptr<const LapTrace> reference,
                       std::shared_ptr<const LapTrace> compared) {
    if (reference && reference->empty()) reference.reset();
    if (compared && compared->empty()) compared.reset();
    const bool same = reference == reference_ && compared == compared_;
    reference_ = std::move(reference);
    compared_ = std::move(compared);
    if (!same) {
        deltaDistance_.clear();
        deltaTime_.clear();
        if (reference_ && compared_) {
            for (const DeltaPoint& p : deltaOnGrid(*compared_, *reference_, kDeltaSteps)) {
                deltaDistance_.push_back(p.distance);
                deltaTime_.push_back(p.delta);
            }
        }
        yAxis2->setVisible(!deltaTime_.empty());
        computeValues();
        fitAxes();
        refreshDrawn();
    }
    setCursorDistance(cursor_);
}

void LapChart::setChannels(std::vector<ChartChannel> channels) {
    if (channels.empty()) channels.push_back(ChartChannel::derivedSpeed());
    const bool rebuild = channels.size() != channels_.size();
    channels_ = std::move(channels);
    if (rebuild) buildPanes();
    labelAxes();
    computeValues();
    fitAxes();
    // The panes' widths as the new labels leave them, for the thinning.
    updateLayout();
    refreshDrawn();
    placeCursor();
}

void LapChart::buildPanes() {
    const QFont small = smallFont(font());
    while (panes_.size() > 1) {
        Pane& p = panes_.back();
        removeGraph(p.ref);
        removeGraph(p.cmp);
        removeItem(p.cursor);
        removeItem(p.label);
        plotLayout()->remove(p.rect);
        panes_.pop_back();
    }
    plotLayout()->simplify();
    for (std::size_t i = 1; i < channels_.size(); ++i) {
        Pane p;
        p.rect = new QCPAxisRect(this);
        plotLayout()->addElement(static_cast<int>(i), 0, p.rect);
        p.rect->setMarginGroup(QCP::msLeft | QCP::msRight, margins_);
        p.rect->setRangeZoom(Qt::Horizontal);
        p.rect->setRangeDrag(Qt::Horizontal);
        QCPAxis* x = p.rect->axis(QCPAxis::atBottom);
        QCPAxis* y = p.rect->axis(QCPAxis::atLeft);
        for (QCPAxis* a : {x, y}) {
            a->setTickLabelFont(small);
            a->setLabelFont(small);
        }
        x->setRange(xAxis->range());
        connect(x, qOverload<const QCPRange&>(&QCPAxis::rangeChanged), this,
                [this](const QCPRange& r) {
                    if (syncing_) return;
                    syncing_ = true;
                    xAxis->setRange(r);
                    for (std::size_t k = 1; k < panes_.size(); ++k)
                        panes_[k].rect->axis(QCPAxis::atBottom)->setRange(r);
                    syncing_ = false;
                    refreshDrawn();
                });
        p.ref = addGraph(x, y);
        p.ref->setPen(QPen(referenceLapColour(), 1.5));
        p.cmp = addGraph(x, y);
        p.cmp->setPen(QPen(comparedLapColour(), 1.5));
        p.cursor = new QCPItemStraightLine(this);
        p.cursor->setPen(panes_.front().cursor->pen());
        p.cursor->setClipAxisRect(p.rect);
        p.cursor->point1->setAxes(x, y);
        p.cursor->point2->setAxes(x, y);
        p.cursor->setVisible(false);
        p.label = new QCPItemText(this);
        p.label->setClipAxisRect(p.rect);
        p.label->setPositionAlignment(Qt::AlignTop | Qt::AlignLeft);
        p.label->position->setType(QCPItemPosition::ptAxisRectRatio);
        p.label->position->setAxisRect(p.rect);
        p.label->position->setCoords(0.01, 0.02);
        p.label->setFont(small);
        p.label->setBrush(QColor(255, 255, 255, 220));
        p.label->setVisible(false);
        panes_.push_back(std::move(p));
    }
    // The x axis under the bottom pane only (the others keep its grid), and
    // stacked panes close together.
    const bool stacked = panes_.size() > 1;
    for (std::size_t i = 0; i < panes_.size(); ++i) {
        panes_[i].rect->axis(QCPAxis::atBottom)->setVisible(i + 1 == panes_.size());
        panes_[i].rect->setMinimumMargins(stacked ? QMargins(15, 3, 15, 3)
                                                  : QMargins(15, 15, 15, 15));
    }
}

void LapChart::setXAxis(XAxis x) {
    if (x == xKind_) return;
    xKind_ = x;
    labelAxes();
    computeValues();
    fitAxes();
    // The panes' widths as the new labels leave them, for the thinning.
    updateLayout();
    refreshDrawn();
    placeCursor();
}

void LapChart::setUnits(const Units& units) {
    if (units == units_) return;
    units_ = units;
    labelAxes();
    computeValues();
    fitAxes();
    // The panes' widths as the new labels leave them, for the thinning.
    updateLayout();
    refreshDrawn();
    placeCursor();
}

void LapChart::labelAxes() {
    for (std::size_t i = 0; i < panes_.size(); ++i) {
        const ChartChannel& c = channels_[i];
        const QString unit = c.speed ? QString::fromLatin1(units_.speedLabel())
                                     : QString::fromStdString(
                                           shownUnit(c.name.toStdString(), c.unit, units_).label);
        panes_[i].unit = unit;
        QCPAxis* y = panes_[i].rect->axis(QCPAxis::atLeft);
        // Stacked panes are too low for a title along them: the unit there,
        // the name in the pane's corner.
        const bool stacked = panes_.size() > 1;
        if (stacked)
            y->setLabel(unit);
        else
            y->setLabel(unit.isEmpty() ? c.name : tr("%1 (%2)").arg(c.name, unit));
        QCPAxis* x = panes_[i].rect->axis(QCPAxis::atBottom);
        if (i + 1 < panes_.size())
            x->setLabel(QString());
        else if (xKind_ == XAxis::Time)
            x->setLabel(tr("Time (s)"));
        else
            x->setLabel(tr("Distance (%1)").arg(QString::fromLatin1(units_.distanceLabel())));
    }
    yAxis2->setLabel(tr("Delta (s)"));
}

double LapChart::xOfDistance(double metres) const {
    if (xKind_ == XAxis::Time && reference_)
        return timeAtDistance(*reference_, std::clamp(metres, 0.0, reference_->distance))
            .value_or(0.0);
    return units_.distanceFromMetres(metres);
}

std::optional<double> LapChart::distanceOfX(double x) const {
    if (xKind_ == XAxis::Time) {
        if (!reference_) return std::nullopt;
        return distanceAtTime(*reference_, std::clamp(x, 0.0, reference_->time));
    }
    return units_.metresFromDistance(x);
}

void LapChart::computeValues() {
    auto xs = [this](const LapTrace* t, std::vector<double>& out) {
        out.clear();
        if (!t) return;
        out.reserve(t->points.size());
        for (const TracePoint& p : t->points)
            out.push_back(xKind_ == XAxis::Time ? p.time : units_.distanceFromMetres(p.distance));
    };
    xs(reference_.get(), refX_);
    xs(compared_.get(), cmpX_);
    deltaX_.clear();
    deltaX_.reserve(deltaDistance_.size());
    for (double d : deltaDistance_) deltaX_.push_back(xOfDistance(d));

    const double speedFactor = units_.speedFromKmh(1.0);
    for (std::size_t i = 0; i < panes_.size(); ++i) {
        const ChartChannel& c = channels_[i];
        Pane& p = panes_[i];
        auto fill = [&](const LapTrace* t, const std::vector<double>& values,
                        std::vector<double>& out) {
            out.clear();
            if (!t) return;
            if (c.speed) {
                out.reserve(t->points.size());
                for (const TracePoint& q : t->points) out.push_back(q.speed * speedFactor);
                return;
            }
            if (values.size() != t->points.size()) return;
            const double factor = shownUnit(c.name.toStdString(), c.unit, units_).factor;
            out.reserve(values.size());
            for (double v : values) out.push_back(v * factor);
        };
        fill(reference_.get(), c.reference, p.refY);
        fill(compared_.get(), c.compared, p.cmpY);
    }
}

void LapChart::fitAxes() {
    double end = 0;
    if (!refX_.empty()) end = std::max(end, refX_.back());
    if (!cmpX_.empty()) end = std::max(end, cmpX_.back());
    xAxis->setRange(0, end > 0 ? end : (xKind_ == XAxis::Time ? 60 : 1000));
    for (std::size_t i = 0; i < panes_.size(); ++i) {
        Pane& p = panes_[i];
        double lo = HUGE_VAL, hi = -HUGE_VAL;
        finiteRange(p.refY, lo, hi);
        finiteRange(p.cmpY, lo, hi);
        // Values spread over hundreds read to a tenth, over thousands whole.
        p.decimals = hi > lo
                         ? std::clamp(3 - static_cast<int>(std::floor(std::log10(hi - lo))), 0, 4)
                         : 2;
        QCPAxis* y = p.rect->axis(QCPAxis::atLeft);
        // A gear or a lap count reads as a whole number, on whole-number ticks.
        auto whole = [](const std::vector<double>& v) {
            return std::all_of(v.begin(), v.end(), [](double x) {
                return !std::isfinite(x) || x == std::nearbyint(x);
            });
        };
        const bool wholeNumbers = !channels_[i].speed && lo <= hi && whole(p.refY) && whole(p.cmpY);
        if (wholeNumbers) {
            p.decimals = 0;
            auto ticker = QSharedPointer<QCPAxisTickerFixed>::create();
            ticker->setTickStep(1);
            ticker->setScaleStrategy(QCPAxisTickerFixed::ssMultiples);
            y->setTicker(ticker);
        } else if (y->ticker().dynamicCast<QCPAxisTickerFixed>()) {
            y->setTicker(QSharedPointer<QCPAxisTicker>::create());
        }
        if (channels_[i].speed) {
            y->setRange(0, hi > 0 ? std::ceil(hi / 20.0) * 20.0 + 10.0 : 100);
        } else if (lo > hi) {
            y->setRange(0, 1);
        } else {
            const double span = std::max(hi - lo, std::max(std::abs(hi), 1.0) * 1e-3);
            // Room over the highest value for the pane's line of text.
            y->setRange(lo - span * 0.05, hi + span * 0.3);
        }
    }
    if (!deltaTime_.empty()) {
        const auto [lo, hi] = std::minmax_element(deltaTime_.begin(), deltaTime_.end());
        const double span = std::max(0.2, *hi - *lo);
        yAxis2->setRange(*lo - span * 0.1, *hi + span * 0.1);
    }
}

void LapChart::refreshDrawn() {
    const int columns = std::max(2, axisRect()->width());
    const QCPRange r = xAxis->range();
    QVector<double> tx, ty;
    // Stacked panes: a tick label every 30 pixels or so, so that they stay apart.
    const bool stacked = panes_.size() > 1;
    for (Pane& p : panes_) {
        const int ticks = stacked ? std::clamp(p.rect->height() / 30, 2, 5) : 5;
        p.rect->axis(QCPAxis::atLeft)->ticker()->setTickCount(ticks);
        if (p.rect == axisRect()) yAxis2->ticker()->setTickCount(ticks);
        thinForColumns(refX_, p.refY, r.lower, r.upper, columns, tx, ty);
        p.ref->setData(tx, ty, true);
        thinForColumns(cmpX_, p.cmpY, r.lower, r.upper, columns, tx, ty);
        p.cmp->setData(tx, ty, true);
    }
    thinForColumns(deltaX_, deltaTime_, r.lower, r.upper, columns, tx, ty);
    graph(2)->setData(tx, ty, true);
    replot(rpQueuedReplot);
}

void LapChart::resizeEvent(QResizeEvent* event) {
    QCustomPlot::resizeEvent(event);
    // The panes' widths follow the new size at the next layout.
    plotLayout()->update(QCPLayoutElement::upLayout);
    refreshDrawn();
}

void LapChart::setCursorDistance(std::optional<double> d) {
    if (!reference_) d.reset();
    if (d) d = std::clamp(*d, 0.0, reference_->distance);
    cursor_ = d;
    placeCursor();
}

void LapChart::placeCursor() {
    const double x = cursor_ ? xOfDistance(*cursor_) : 0.0;
    for (std::size_t i = 0; i < panes_.size(); ++i) {
        Pane& p = panes_[i];
        const bool stacked = panes_.size() > 1;
        p.cursor->setVisible(cursor_.has_value());
        p.label->setVisible(cursor_.has_value() || stacked);
        if (!cursor_) {
            const QString& name = channels_[i].name;
            p.label->setText(p.unit.isEmpty() ? name : tr("%1 (%2)").arg(name, p.unit));
            continue;
        }
        p.cursor->point1->setCoords(x, 0);
        p.cursor->point2->setCoords(x, 1);
        if (i == 0 && panes_.size() == 1 && channels_[0].speed) {
            p.label->setText(cursorText());
        } else if (i == 0) {
            QString head = xKind_ == XAxis::Time
                               ? tr("%1 s").arg(x, 0, 'f', 2)
                               : tr("%1 %2")
                                     .arg(x, 0, 'f', 0)
                                     .arg(QString::fromLatin1(units_.distanceLabel()));
            if (const auto delta = compared_ ? deltaAt(*compared_, *reference_, *cursor_)
                                             : std::nullopt)
                head += tr("  ·  delta %1%2 s")
                            .arg(*delta >= 0 ? QStringLiteral("+") : QString())
                            .arg(*delta, 0, 'f', 2);
            p.label->setText(head + QStringLiteral("  ·  ") + paneReading(0));
        } else {
            p.label->setText(paneReading(static_cast<int>(i)));
        }
    }
    replot(rpQueuedReplot);
}

std::optional<double> LapChart::cursorValue(int pane, bool compared) const {
    if (!cursor_ || pane < 0 || pane >= paneCount()) return std::nullopt;
    const Pane& p = panes_[static_cast<std::size_t>(pane)];
    const double x = xOfDistance(*cursor_);
    return compared ? valueAlong(cmpX_, p.cmpY, x) : valueAlong(refX_, p.refY, x);
}

QString LapChart::paneReading(int i) const {
    const Pane& p = panes_[static_cast<std::size_t>(i)];
    QString s = channels_[static_cast<std::size_t>(i)].name + QStringLiteral(":");
    auto one = [&](const LapTrace* t, bool compared) {
        if (!t) return;
        const auto v = cursorValue(i, compared);
        s += QStringLiteral(" %1 %2")
                 .arg(lapName(*t))
                 .arg(v ? QString::number(*v, 'f', p.decimals) : QStringLiteral("-"));
    };
    // A lap from a reference file or another session has no channels.
    if (!p.refY.empty()) one(reference_.get(), false);
    if (!p.cmpY.empty()) one(compared_.get(), true);
    if (!p.unit.isEmpty()) s += QStringLiteral(" ") + p.unit;
    return s;
}

QString LapChart::cursorText() const {
    if (!cursor_ || !reference_) return QString();
    const double d = *cursor_;
    auto speedAt = [this](const LapTrace& t, double at) {
        const std::size_t j = pointAtOrAfter(t, at);
        double kmh;
        if (j == 0 || j >= t.points.size()) {
            kmh = t.points[std::min(j, t.points.size() - 1)].speed;
        } else {
            const TracePoint& a = t.points[j - 1];
            const TracePoint& b = t.points[j];
            const double u = b.distance > a.distance ? (at - a.distance) / (b.distance - a.distance)
                                                     : 1.0;
            kmh = a.speed + (b.speed - a.speed) * u;
        }
        return units_.speedFromKmh(kmh);
    };
    const QString speedUnit = QString::fromLatin1(units_.speedLabel());
    QString s = tr("%1 %2  ·  %3: %4 %5, %6 s")
                    .arg(units_.distanceFromMetres(d), 0, 'f', 0)
                    .arg(QString::fromLatin1(units_.distanceLabel()))
                    .arg(lapName(*reference_))
                    .arg(speedAt(*reference_, d), 0, 'f', 1)
                    .arg(speedUnit)
                    .arg(timeAtDistance(*reference_, d).value_or(reference_->time), 0, 'f', 2);
    // On the time axis the compared lap is read at the same time into the
    // lap, where the cursor crosses its curves; on the distance axis at the
    // same distance.
    double dc = d;
    if (compared_ && xKind_ == XAxis::Time)
        dc = distanceAtTime(*compared_, std::clamp(xOfDistance(d), 0.0, compared_->time))
                 .value_or(d);
    if (compared_ && dc <= compared_->distance)
        s += tr("  ·  %1: %2 %3, %4 s")
                 .arg(lapName(*compared_))
                 .arg(speedAt(*compared_, dc), 0, 'f', 1)
                 .arg(speedUnit)
                 .arg(timeAtDistance(*compared_, dc).value_or(compared_->time), 0, 'f', 2);
    // The delta runs the whole chosen lap, to the lap-time difference at its end.
    if (const auto delta = compared_ ? deltaAt(*compared_, *reference_, d) : std::nullopt)
        s += tr("  ·  delta %1%2 s")
                 .arg(*delta >= 0 ? QStringLiteral("+") : QString())
                 .arg(*delta, 0, 'f', 2);
    // Every other channel shown, both laps.
    for (int i = 0; i < paneCount(); ++i)
        if (!channels_[static_cast<std::size_t>(i)].speed)
            s += QStringLiteral("  ·  ") + paneReading(i);
    return s;
}

void LapChart::mousePressEvent(QMouseEvent* event) {
    if (event->button() == Qt::RightButton) {
        emit menuRequested(event->globalPosition().toPoint());
        return;
    }
    QCustomPlot::mousePressEvent(event);
}

void LapChart::mouseMoveEvent(QMouseEvent* event) {
    QCustomPlot::mouseMoveEvent(event);
    if (!reference_ || (event->buttons() & Qt::LeftButton)) return;
    const QPoint pos = event->position().toPoint();
    const Pane* over = nullptr;
    for (const Pane& p : panes_)
        if (p.rect->rect().contains(pos)) over = &p;
    if (!over) {
        setCursorDistance(std::nullopt);
        emit cursorMoved(std::nullopt);
        return;
    }
    setCursorDistance(distanceOfX(over->rect->axis(QCPAxis::atBottom)->pixelToCoord(pos.x())));
    emit cursorMoved(cursor_);
}

void LapChart::leaveEvent(QEvent* event) {
    QCustomPlot::leaveEvent(event);
    if (!cursor_) return;
    setCursorDistance(std::nullopt);
    emit cursorMoved(std::nullopt);
}

} // namespace lorvane::display
