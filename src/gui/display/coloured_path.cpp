#include "gui/display/coloured_path.h"

#include <algorithm>
#include <array>
#include <cmath>

namespace lorvane::display {

ColouredPath::ColouredPath(QCPAxis* x, QCPAxis* y, const QString& layer)
    : QCPLayerable(x->parentPlot(), layer), x_(x), y_(y) {
    setObjectName(QStringLiteral("ColouredPath"));
    setAntialiased(true);
}

void ColouredPath::setPath(std::vector<LocalPoint> path, std::vector<double> values, QString name,
                           std::string unit, Scale scale) {
    if (values.size() != path.size()) path.clear();
    path_ = std::move(path);
    values_ = std::move(values);
    if (path_.empty()) values_.clear();
    name_ = std::move(name);
    unit_ = std::move(unit);
    scale_ = scale;
    low_ = HUGE_VAL;
    high_ = -HUGE_VAL;
    for (double v : values_) {
        if (!std::isfinite(v)) continue;
        low_ = std::min(low_, v);
        high_ = std::max(high_, v);
    }
    if (low_ > high_) low_ = high_ = 0;
    if (scale_ == Scale::AroundZero) {
        // Gained and lost alike: 0 in the middle of the bar.
        const double m = std::max(std::abs(low_), std::abs(high_));
        low_ = -m;
        high_ = m;
    }
}

void ColouredPath::clear() {
    setPath({}, {}, QString(), std::string(), Scale::Sequential);
}

int ColouredPath::bandOf(double value) const {
    if (!std::isfinite(value)) return kBands; // no value: grey
    if (!(high_ > low_)) return kBands / 2;
    const double share = (value - low_) / (high_ - low_);
    return std::clamp(static_cast<int>(share * kBands), 0, kBands - 1);
}

QColor ColouredPath::bandColour(int band, Scale scale) {
    if (band >= kBands) return QColor(0x9A, 0x9A, 0x9A);
    const double u = (band + 0.5) / kBands;
    if (scale == Scale::AroundZero) {
        // Green, grey, red.
        const QColor gained(0x10, 0xA0, 0x30), even(0xB0, 0xB0, 0xB0), lost(0xE0, 0x10, 0x10);
        const QColor& a = u < 0.5 ? gained : even;
        const QColor& b = u < 0.5 ? even : lost;
        const double t = u < 0.5 ? u * 2 : (u - 0.5) * 2;
        return QColor::fromRgbF(static_cast<float>(a.redF() + (b.redF() - a.redF()) * t),
                                static_cast<float>(a.greenF() + (b.greenF() - a.greenF()) * t),
                                static_cast<float>(a.blueF() + (b.blueF() - a.blueF()) * t));
    }
    // Blue, cyan, green, yellow, red: hue from 240° down to 0°.
    return QColor::fromHsvF(static_cast<float>((1.0 - u) * 240.0 / 360.0), 0.9f, 0.9f);
}

QColor ColouredPath::colourOf(double value) const {
    return bandColour(bandOf(value), scale_);
}

QColor ColouredPath::colourAt(std::size_t i) const {
    return i < values_.size() ? colourOf(values_[i]) : QColor();
}

QString ColouredPath::legendText() const {
    const ShownUnit shown = shownUnit(name_.toStdString(), unit_, units_);
    const QString unit = QString::fromStdString(shown.label);
    return unit.isEmpty() ? name_ : QStringLiteral("%1 (%2)").arg(name_, unit);
}

void ColouredPath::applyDefaultAntialiasingHint(QCPPainter* painter) const {
    applyAntialiasingHint(painter, mAntialiased, QCP::aePlottables);
}

QRect ColouredPath::clipRect() const {
    return x_ ? x_->axisRect()->rect() : QCPLayerable::clipRect();
}

void ColouredPath::draw(QCPPainter* painter) {
    if (path_.size() < 2 || !x_ || !y_) return;
    std::array<QVector<QLineF>, kBands + 1> pieces;
    auto pixel = [&](std::size_t i) {
        return QPointF(x_->coordToPixel(path_[i].east), y_->coordToPixel(path_[i].north));
    };
    QPointF from = pixel(0);
    std::size_t fromIndex = 0;
    for (std::size_t i = 1; i < path_.size(); ++i) {
        const QPointF to = pixel(i);
        // Points closer than two pixels join the piece that goes on.
        if (i + 1 < path_.size() && std::abs(to.x() - from.x()) + std::abs(to.y() - from.y()) < 2.0)
            continue;
        pieces[static_cast<std::size_t>(bandOf(values_[fromIndex]))].append(QLineF(from, to));
        from = to;
        fromIndex = i;
    }
    for (int b = 0; b <= kBands; ++b) {
        const auto& lines = pieces[static_cast<std::size_t>(b)];
        if (lines.isEmpty()) continue;
        painter->setPen(
            QPen(bandColour(b, scale_), 4.0, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
        painter->drawLines(lines);
    }

    // The colour bar, in the plot's top right corner.
    const QRect area = clipRect();
    const double factor = shownUnit(name_.toStdString(), unit_, units_).factor;
    QFont small = painter->font();
    small.setPointSize(8);
    painter->setFont(small);
    const QFontMetrics fm(small);
    const QString title = legendText();
    const QString top = QString::number(high_ * factor, 'g', 4);
    const QString bottom = QString::number(low_ * factor, 'g', 4);
    const int barW = 12, barH = 80;
    const int textW = std::max({fm.horizontalAdvance(title), fm.horizontalAdvance(top) + barW + 6,
                                fm.horizontalAdvance(bottom) + barW + 6});
    // In the corner of the plot the path crosses least (the top right when
    // it is clear), so the bar never hides the part of the lap it explains.
    const QSize size(textW + 10, barH + 2 * fm.height() + 10);
    const QPoint corners[] = {{area.right() - size.width() - 6, area.top() + 8},
                              {area.left() + 8, area.top() + 8},
                              {area.right() - size.width() - 6, area.bottom() - size.height() - 8},
                              {area.left() + 8, area.bottom() - size.height() - 8}};
    QRect box(corners[0], size);
    std::size_t fewest = SIZE_MAX;
    for (const QPoint& c : corners) {
        const QRect r(c, size);
        std::size_t n = 0;
        for (std::size_t i = 0; i < path_.size(); ++i)
            if (r.adjusted(-4, -4, 4, 4).contains(pixel(i).toPoint())) ++n;
        if (n < fewest) {
            fewest = n;
            box = r;
        }
    }
    painter->setPen(QColor(0xC0, 0xC0, 0xC0));
    painter->setBrush(QColor(255, 255, 255, 230));
    painter->drawRect(box);
    painter->setPen(Qt::black);
    painter->drawText(QPointF(box.left() + 5, box.top() + fm.ascent() + 3), title);
    const int barTop = box.top() + fm.height() + 6;
    for (int b = 0; b < kBands; ++b) {
        const int y0 = barTop + barH - (b + 1) * barH / kBands;
        const int y1 = barTop + barH - b * barH / kBands;
        painter->fillRect(QRect(box.left() + 5, y0, barW, y1 - y0), bandColour(b, scale_));
    }
    painter->drawText(QPointF(box.left() + barW + 9, barTop + fm.ascent()), top);
    painter->drawText(QPointF(box.left() + barW + 9, barTop + barH), bottom);
}

} // namespace lorvane::display
