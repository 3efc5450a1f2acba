// A lap's path on the track plot coloured by a value at each of its points
// (a channel, the speed, the time lost on the reference lap), with a colour
// bar naming the value, its unit and the lowest and highest values.
//
// Drawn as short straight pieces between the points at least two pixels
// apart on the screen, gathered into one batch per colour band, so a path of
// any length paints in a few calls.
#pragma once

#include <string>
#include <vector>

#include <qcustomplot.h>

#include "analysis/units.h"
#include "laps/local_plane.h"

namespace lorvane::display {

class ColouredPath : public QCPLayerable {
    Q_OBJECT
public:
    // Values from green (gained) through grey (0) to red (lost) around 0,
    // or from blue (lowest) to red (highest).
    enum class Scale { Sequential, AroundZero };
    static constexpr int kBands = 32;

    ColouredPath(QCPAxis* x, QCPAxis* y, const QString& layer);

    // The path and a value at each of its points (NaN: none); an empty path
    // clears it. `unit` is the values' own, shown in the user's units.
    void setPath(std::vector<LocalPoint> path, std::vector<double> values, QString name,
                 std::string unit, Scale scale);
    void clear();
    bool empty() const { return path_.empty(); }
    void setUnits(const Units& units) { units_ = units; }

    double low() const { return low_; }
    double high() const { return high_; }
    const QString& name() const { return name_; }
    // The colour point i's piece is drawn in, and that of a value.
    QColor colourAt(std::size_t i) const;
    QColor colourOf(double value) const;
    // The legend's text: the name, the shown unit, the shown extremes.
    QString legendText() const;

protected:
    void applyDefaultAntialiasingHint(QCPPainter* painter) const override;
    QRect clipRect() const override;
    void draw(QCPPainter* painter) override;

private:
    int bandOf(double value) const;
    static QColor bandColour(int band, Scale scale);

    QPointer<QCPAxis> x_, y_;
    std::vector<LocalPoint> path_;
    std::vector<double> values_;
    QString name_;
    std::string unit_;
    Scale scale_ = Scale::Sequential;
    double low_ = 0, high_ = 0;
    Units units_;
};

} // namespace lorvane::display
