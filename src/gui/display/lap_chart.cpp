#include "gui/display/lap_chart.h"

#include <algorithm>
#include <cmath>

#include "analysis/lap_delta.h"

namespace lorvane::display {

namespace {

// Delta samples along the chosen lap before thinning for the screen.
constexpr std::size_t kDeltaSteps = 4000;

void speedsOf(const LapTrace* t, std::vector<double>& x, std::vector<double>& y) {
    x.clear();
    y.clear();
    if (!t) return;
    x.reserve(t->points.size());
    y.reserve(t->points.size());
    for (const TracePoint& p : t->points) {
        x.push_back(p.distance);
        y.push_back(p.speed);
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
    if (x.empty() || columns < 2 || !(hi > lo)) return;
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
            if (y[j] < y[lowest]) lowest = j;
            if (y[j] > y[highest]) highest = j;
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

LapChart::LapChart(QWidget* parent) : QCustomPlot(parent) {
    setObjectName(QStringLiteral("Chart2"));
    setBackground(Qt::white);
    legend->setVisible(false);
    setMouseTracking(true);

    QFont small = font();
    small.setPointSize(8);
    for (QCPAxis* a : {xAxis, yAxis, yAxis2}) {
        a->setTickLabelFont(small);
        a->setLabelFont(small);
    }
    xAxis->setLabel(tr("Distance (m)"));
    yAxis->setLabel(tr("Speed (km/h)"));
    yAxis2->setLabel(tr("Delta (s)"));
    yAxis2->setVisible(false);
    axisRect()->setMargins(QMargins(0, 0, 0, 0));

    QCPGraph* ref = addGraph();
    ref->setName(QStringLiteral("Series6"));
    ref->setObjectName(QStringLiteral("Series6"));
    ref->setPen(QPen(referenceLapColour(), 1.5));
    QCPGraph* cmp = addGraph();
    cmp->setName(QStringLiteral("ComparedSpeed"));
    cmp->setPen(QPen(comparedLapColour(), 1.5));
    QCPGraph* d = addGraph(xAxis, yAxis2);
    d->setName(QStringLiteral("Delta"));
    d->setPen(QPen(Qt::black, 1.0));

    cursorLine_ = new QCPItemStraightLine(this);
    cursorLine_->setPen(QPen(QColor(0x40, 0x40, 0x40), 1.0, Qt::DashLine));
    cursorLine_->setVisible(false);
    cursorLabel_ = new QCPItemText(this);
    cursorLabel_->setPositionAlignment(Qt::AlignTop | Qt::AlignLeft);
    cursorLabel_->position->setType(QCPItemPosition::ptAxisRectRatio);
    cursorLabel_->position->setCoords(0.01, 0.02);
    cursorLabel_->setFont(small);
    cursorLabel_->setBrush(QColor(255, 255, 255, 220));
    cursorLabel_->setVisible(false);

    setInteractions(QCP::iRangeZoom | QCP::iRangeDrag);
    axisRect()->setRangeZoom(Qt::Horizontal);
    axisRect()->setRangeDrag(Qt::Horizontal);
    connect(xAxis, qOverload<const QCPRange&>(&QCPAxis::rangeChanged), this,
            [this] { refreshDrawn(); });
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
    reference_ = std::move(reference);
    compared_ = std::move(compared);
    deltaDistance_.clear();
    deltaTime_.clear();
    if (reference_ && compared_) {
        for (const DeltaPoint& p : deltaOnGrid(*compared_, *reference_, kDeltaSteps)) {
            deltaDistance_.push_back(p.distance);
            deltaTime_.push_back(p.delta);
        }
    }
    yAxis2->setVisible(!deltaTime_.empty());
    fitAxes();
    refreshDrawn();
    setCursorDistance(cursor_);
}

void LapChart::fitAxes() {
    double end = 0, top = 0;
    for (const LapTrace* t : {reference_.get(), compared_.get()}) {
        if (!t) continue;
        end = std::max(end, t->distance);
        top = std::max(top, t->maxSpeed);
    }
    xAxis->setRange(0, end > 0 ? end : 1000);
    yAxis->setRange(0, top > 0 ? std::ceil(top / 20.0) * 20.0 + 10.0 : 100);
    if (!deltaTime_.empty()) {
        const auto [lo, hi] = std::minmax_element(deltaTime_.begin(), deltaTime_.end());
        const double span = std::max(0.2, *hi - *lo);
        yAxis2->setRange(*lo - span * 0.1, *hi + span * 0.1);
    }
}

void LapChart::refreshDrawn() {
    const int columns = std::max(2, axisRect()->width());
    const QCPRange r = xAxis->range();
    std::vector<double> x, y;
    QVector<double> tx, ty;
    speedsOf(reference_.get(), x, y);
    thinForColumns(x, y, r.lower, r.upper, columns, tx, ty);
    graph(0)->setData(tx, ty, true);
    speedsOf(compared_.get(), x, y);
    thinForColumns(x, y, r.lower, r.upper, columns, tx, ty);
    graph(1)->setData(tx, ty, true);
    thinForColumns(deltaDistance_, deltaTime_, r.lower, r.upper, columns, tx, ty);
    graph(2)->setData(tx, ty, true);
    replot(rpQueuedReplot);
}

void LapChart::resizeEvent(QResizeEvent* event) {
    QCustomPlot::resizeEvent(event);
    refreshDrawn();
}

void LapChart::setCursorDistance(std::optional<double> d) {
    if (!reference_) d.reset();
    if (d) d = std::clamp(*d, 0.0, reference_->distance);
    cursor_ = d;
    cursorLine_->setVisible(d.has_value());
    cursorLabel_->setVisible(d.has_value());
    if (d) {
        cursorLine_->point1->setCoords(*d, 0);
        cursorLine_->point2->setCoords(*d, 1);
        cursorLabel_->setText(cursorText());
    }
    replot(rpQueuedReplot);
}

QString LapChart::cursorText() const {
    if (!cursor_ || !reference_) return QString();
    const double d = *cursor_;
    auto speedAt = [](const LapTrace& t, double at) {
        const std::size_t j = pointAtOrAfter(t, at);
        if (j == 0 || j >= t.points.size()) return t.points[std::min(j, t.points.size() - 1)].speed;
        const TracePoint& a = t.points[j - 1];
        const TracePoint& b = t.points[j];
        const double u = b.distance > a.distance ? (at - a.distance) / (b.distance - a.distance)
                                                 : 1.0;
        return a.speed + (b.speed - a.speed) * u;
    };
    QString s = tr("%1 m  ·  lap %2: %3 km/h, %4 s")
                    .arg(d, 0, 'f', 0)
                    .arg(reference_->lap)
                    .arg(speedAt(*reference_, d), 0, 'f', 1)
                    .arg(timeAtDistance(*reference_, d).value_or(reference_->time), 0, 'f', 2);
    if (compared_ && d <= compared_->distance)
        s += tr("  ·  lap %1: %2 km/h, %3 s")
                 .arg(compared_->lap)
                 .arg(speedAt(*compared_, d), 0, 'f', 1)
                 .arg(timeAtDistance(*compared_, d).value_or(compared_->time), 0, 'f', 2);
    // The delta runs the whole chosen lap, to the lap-time difference at its end.
    if (const auto delta = compared_ ? deltaAt(*compared_, *reference_, d) : std::nullopt)
        s += tr("  ·  delta %1%2 s")
                 .arg(*delta >= 0 ? QStringLiteral("+") : QString())
                 .arg(*delta, 0, 'f', 2);
    return s;
}

void LapChart::mouseMoveEvent(QMouseEvent* event) {
    QCustomPlot::mouseMoveEvent(event);
    if (!reference_ || (event->buttons() & Qt::LeftButton)) return;
    const QPointF pos = event->position();
    if (!axisRect()->rect().contains(pos.toPoint())) {
        setCursorDistance(std::nullopt);
        emit cursorMoved(std::nullopt);
        return;
    }
    const double d = xAxis->pixelToCoord(pos.x());
    setCursorDistance(d);
    emit cursorMoved(cursor_);
}

void LapChart::leaveEvent(QEvent* event) {
    QCustomPlot::leaveEvent(event);
    if (!cursor_) return;
    setCursorDistance(std::nullopt);
    emit cursorMoved(std::nullopt);
}

} // namespace lorvane::display
