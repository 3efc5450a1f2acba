// The track plot: the fit rule, the screen-resolution thinning and the plot
// widget that uses them.
#include <chrono>
#include <cmath>
#include <numbers>
#include <random>

#include <QSignalSpy>
#include <QtTest/QTest>

#include "gui/display/track_plot.h"
#include "track/fit_rule.h"
#include "track/thinning.h"

using lorvane::TrackExtent;
using lorvane::TrackPoint;
using lorvane::display::TrackPlot;
using lorvane::track::AxisLimits;
using lorvane::track::fitTrack;
using lorvane::track::thinForView;
using lorvane::track::Viewport;

namespace {

TrackExtent extent(double minE, double maxE, double minN, double maxN) {
    TrackExtent e;
    e.minEast = minE;
    e.maxEast = maxE;
    e.minNorth = minN;
    e.maxNorth = maxN;
    return e;
}

// Laps of a wobbly closed curve of about 1.2 km by 0.8 km with GPS-like noise,
// sample indices from 0.
std::vector<TrackPoint> circuit(int laps, int perLap, double noise = 0.3, unsigned seed = 5) {
    std::mt19937 rng(seed);
    std::normal_distribution<double> jitter(0, noise);
    std::uniform_real_distribution<double> line(-0.003, 0.003); // each lap a line of its own
    std::vector<TrackPoint> pts;
    pts.reserve(static_cast<std::size_t>(laps) * static_cast<std::size_t>(perLap));
    for (int lap = 0; lap < laps; ++lap) {
        const double offset = line(rng);
        for (int i = 0; i < perLap; ++i) {
            const double a = 2 * std::numbers::pi * i / perLap;
            const double r = 1 + 0.15 * std::sin(3 * a) + offset;
            pts.push_back({600 * r * std::cos(a) + jitter(rng), 400 * r * std::sin(a) + jitter(rng),
                           static_cast<std::int32_t>(pts.size())});
        }
    }
    return pts;
}

bool inside(const TrackPoint& p, const Viewport& v) {
    return p.east >= v.xMin && p.east <= v.xMax && p.north >= v.yMin && p.north <= v.yMax;
}

// The thinned line holds input points in recorded order (and breaks), keeps
// both ends, and its drawn segments pass within about `tolerancePx` pixels of
// every visible input point.
void checkFaithful(const std::vector<TrackPoint>& in, const std::vector<TrackPoint>& out, const Viewport& v,
                   int tolerancePx) {
    QVERIFY(!out.empty());
    QVERIFY(!lorvane::track::isBreak(out.front()) && !lorvane::track::isBreak(out.back()));
    QCOMPARE(out.front().sample, in.front().sample);
    QCOMPARE(out.back().sample, in.back().sample);
    std::int32_t last = -1;
    for (const TrackPoint& p : out) {
        if (lorvane::track::isBreak(p)) continue;
        QVERIFY(p.sample > last);
        last = p.sample;
        const TrackPoint& src = in[static_cast<std::size_t>(p.sample - in.front().sample)];
        QCOMPARE(p.east, src.east);
        QCOMPARE(p.north, src.north);
    }

    // Paint the drawn segments into a pixel grid, widened by the tolerance.
    const int W = static_cast<int>(v.widthPx), H = static_cast<int>(v.heightPx);
    std::vector<char> covered(static_cast<std::size_t>(W) * static_cast<std::size_t>(H), 0);
    auto toPx = [&](const TrackPoint& p) {
        return std::pair((p.east - v.xMin) / (v.xMax - v.xMin) * W, (p.north - v.yMin) / (v.yMax - v.yMin) * H);
    };
    auto mark = [&](double x, double y) {
        const int cx = static_cast<int>(std::floor(x)), cy = static_cast<int>(std::floor(y));
        for (int dy = -tolerancePx; dy <= tolerancePx; ++dy)
            for (int dx = -tolerancePx; dx <= tolerancePx; ++dx) {
                const int px = cx + dx, py = cy + dy;
                if (px >= 0 && py >= 0 && px < W && py < H)
                    covered[static_cast<std::size_t>(py) * static_cast<std::size_t>(W) + static_cast<std::size_t>(px)] =
                        1;
            }
    };
    for (std::size_t k = 0; k + 1 < out.size(); ++k) {
        if (lorvane::track::isBreak(out[k]) || lorvane::track::isBreak(out[k + 1])) continue;
        const auto [x0, y0] = toPx(out[k]);
        const auto [x1, y1] = toPx(out[k + 1]);
        const double len = std::hypot(x1 - x0, y1 - y0);
        if (len > 4 * (W + H)) continue; // far outside: it cannot be followed pixel by pixel
        const int steps = std::max(1, static_cast<int>(len * 4));
        for (int s = 0; s <= steps; ++s) mark(x0 + (x1 - x0) * s / steps, y0 + (y1 - y0) * s / steps);
    }
    for (const TrackPoint& p : in) {
        if (!inside(p, v)) continue;
        const auto [x, y] = toPx(p);
        const int cx = std::min(W - 1, static_cast<int>(x)), cy = std::min(H - 1, static_cast<int>(y));
        if (!covered[static_cast<std::size_t>(cy) * static_cast<std::size_t>(W) + static_cast<std::size_t>(cx)])
            QFAIL(qPrintable(QStringLiteral("sample %1 is not drawn").arg(p.sample)));
    }
}

bool segmentMeetsRect(const TrackPoint& a, const TrackPoint& b, const Viewport& v) {
    // Liang-Barsky clipping.
    double t0 = 0, t1 = 1;
    const double dx = b.east - a.east, dy = b.north - a.north;
    const double p[4] = {-dx, dx, -dy, dy};
    const double q[4] = {a.east - v.xMin, v.xMax - a.east, a.north - v.yMin, v.yMax - a.north};
    for (int i = 0; i < 4; ++i) {
        if (p[i] == 0) {
            if (q[i] < 0) return false;
        } else {
            const double t = q[i] / p[i];
            if (p[i] < 0)
                t0 = std::max(t0, t);
            else
                t1 = std::min(t1, t);
        }
    }
    return t0 <= t1;
}

} // namespace

class TestTrackPlot : public QObject {
    Q_OBJECT
private slots:
    void fitPadsTheNarrowerAxis();
    void fitOfEqualSpansUsesTheExtents();
    void fitOfNothingLeavesTheAxes();
    void fitKeepsSpansEqualWithinAMetre();
    void thinningIsFaithfulAtEveryZoom();
    void thinningNeverCutsThroughTheViewFromOutside();
    void thinningBoundsAMillionPoints();
    void curveLeavesAGapAtABreak();
    void plotFollowsTheFirstTrackThenKeepsItsLimits();
    void plotFitsEqualSpansToTheNewTrack();
    void plotMarkersReplaceEachOther();
    void plotHighlightsOneLap();
    void plotZoomPanAndBack();
    void plotKeepsMetresSquareAtEveryShape();
    void plotDrawsADraggedGateAsItMoves();
};

void TestTrackPlot::fitPadsTheNarrowerAxis() {
    using lorvane::track::kFitMargin;
    // East -400..600, north -300..200: pad 250 on north, then the margin of
    // the 1000 m span all round.
    auto lim = fitTrack(extent(-400, 600, -300, 200));
    QVERIFY(lim);
    double m = 1000 * kFitMargin;
    QCOMPARE(lim->northMax, 450.0 + m);
    QCOMPARE(lim->northMin, -550.0 - m);
    QCOMPARE(lim->eastMax, 600.0 + m);
    QCOMPARE(lim->eastMin, -400.0 - m);

    // Spans 1000.9 and 500.2: the difference is truncated before halving.
    lim = fitTrack(extent(0, 1000.9, 0, 500.2));
    m = 1000.9 * kFitMargin;
    QCOMPARE(lim->northMax, 750.2 + m);
    QCOMPARE(lim->northMin, -250.0 - m);

    // North wider; an odd whole difference leaves half metres.
    lim = fitTrack(extent(-10, 490, -300, 701));
    m = 1001 * kFitMargin;
    QCOMPARE(lim->eastMin, -10 - 250.5 - m);
    QCOMPARE(lim->eastMax, 490 + 250.5 + m);
    QCOMPARE(lim->northMin, -300.0 - m);
    QCOMPARE(lim->northMax, 701.0 + m);
}

void TestTrackPlot::fitOfEqualSpansUsesTheExtents() {
    // Equal spans: the extents and the margin, the track clear of every axis.
    const auto lim = fitTrack(extent(-120, 80, 30, 230));
    QVERIFY(lim);
    const double m = 200 * lorvane::track::kFitMargin;
    QVERIFY(m >= 5);
    QCOMPARE(lim->eastMin, -120.0 - m);
    QCOMPARE(lim->eastMax, 80.0 + m);
    QCOMPARE(lim->northMin, 30.0 - m);
    QCOMPARE(lim->northMax, 230.0 + m);

    // A track of one point: still a usable range round it.
    const auto dot = fitTrack(extent(0, 0, 0, 0));
    QVERIFY(dot);
    QVERIFY(dot->eastMax - dot->eastMin >= lorvane::track::kMinimumSpan);
    QVERIFY(dot->eastMin < 0 && dot->eastMax > 0);
    QVERIFY(dot->northMin < 0 && dot->northMax > 0);
}

void TestTrackPlot::fitOfNothingLeavesTheAxes() {
    QVERIFY(!fitTrack(TrackExtent{}));
}

void TestTrackPlot::fitKeepsSpansEqualWithinAMetre() {
    std::mt19937 rng(3);
    std::uniform_real_distribution<double> coord(-5000, 5000);
    for (int i = 0; i < 2000; ++i) {
        double e1 = coord(rng), e2 = coord(rng), n1 = coord(rng), n2 = coord(rng);
        const auto lim = fitTrack(extent(std::min(e1, e2), std::max(e1, e2), std::min(n1, n2), std::max(n1, n2)));
        QVERIFY(lim);
        const double se = lim->eastMax - lim->eastMin, sn = lim->northMax - lim->northMin;
        QVERIFY2(std::abs(se - sn) < 1.0, qPrintable(QStringLiteral("%1 vs %2").arg(se).arg(sn)));
        // The track stays inside, clear of the axes.
        QVERIFY(lim->eastMin < std::min(e1, e2) && lim->eastMax > std::max(e1, e2));
        QVERIFY(lim->northMin < std::min(n1, n2) && lim->northMax > std::max(n1, n2));
    }
}

void TestTrackPlot::thinningIsFaithfulAtEveryZoom() {
    const auto in = circuit(6, 6000);
    std::vector<TrackPoint> out;
    const Viewport views[] = {
        {-800, 800, -800, 800, 609, 577},   // whole track
        {400, 700, -150, 150, 609, 577},    // one corner
        {-20, 20, 380, 420, 609, 577},      // closer than the noise
        {-1200, -650, -100, 100, 300, 200}, // the edge of the track
    };
    for (const Viewport& v : views) {
        thinForView(in, v, out);
        checkFaithful(in, out, v, 1);
        if (QTest::currentTestFailed()) return;
        QVERIFY(out.size() < in.size());
    }
}

void TestTrackPlot::thinningNeverCutsThroughTheViewFromOutside() {
    // A path that circles the view without entering it, densely sampled.
    std::vector<TrackPoint> in;
    const Viewport v{0, 100, 0, 100, 200, 200};
    const double corners[][2] = {{-50, -50}, {150, -50}, {150, 150}, {-50, 150}, {-50, -50}};
    for (int side = 0; side < 4; ++side) {
        for (int i = 0; i < 1000; ++i) {
            const double t = i / 1000.0;
            in.push_back({corners[side][0] + t * (corners[side + 1][0] - corners[side][0]),
                          corners[side][1] + t * (corners[side + 1][1] - corners[side][1]),
                          static_cast<std::int32_t>(in.size())});
        }
    }
    std::vector<TrackPoint> out;
    thinForView(in, v, out);
    QVERIFY(out.size() < 20);
    for (std::size_t i = 0; i + 1 < out.size(); ++i) {
        if (lorvane::track::isBreak(out[i]) || lorvane::track::isBreak(out[i + 1])) continue;
        QVERIFY2(!segmentMeetsRect(out[i], out[i + 1], v), qPrintable(QString::number(i)));
    }

    // One jump straight across the view between two outside points is kept.
    const std::vector<TrackPoint> jump = {{-10, 50, 0}, {-20, 50, 1}, {120, 50, 2}, {130, 50, 3}};
    thinForView(jump, v, out);
    bool crosses = false;
    for (std::size_t i = 0; i + 1 < out.size(); ++i) crosses |= segmentMeetsRect(out[i], out[i + 1], v);
    QVERIFY(crosses);
}

void TestTrackPlot::thinningBoundsAMillionPoints() {
    const auto in = circuit(100, 10000); // a million points, 100 laps
    std::vector<TrackPoint> out;
    const Viewport whole{-800, 800, -800, 800, 609, 577};
    const auto t0 = std::chrono::steady_clock::now();
    thinForView(in, whole, out);
    const auto ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count();
    qInfo("1,000,000 points over 100 laps thinned to %zu in %.1f ms", out.size(), ms);
    // About the pixel steps along the track, whatever the number of laps.
    QVERIFY(out.size() < 40000);
    QVERIFY(out.size() > 1000);
    checkFaithful(in, out, whole, 1);
}

void TestTrackPlot::curveLeavesAGapAtABreak() {
    // The thinned line relies on the curve leaving a gap at a NaN point.
    QCustomPlot plot;
    plot.resize(200, 200);
    plot.xAxis->setRange(0, 10);
    plot.yAxis->setRange(0, 10);
    auto* curve = new QCPCurve(plot.xAxis, plot.yAxis);
    curve->setPen(QPen(Qt::red, 3));
    const double nan = std::numeric_limits<double>::quiet_NaN();
    curve->data()->set({{0, 1, 2}, {1, 4, 2}, {1, nan, nan}, {2, 6, 2}, {3, 9, 2}, {4, 9, 8}}, true);
    const QImage img = plot.toPixmap(200, 200).toImage();
    auto redAt = [&](double x, double y) {
        const QColor c = img.pixelColor(int(plot.xAxis->coordToPixel(x)), int(plot.yAxis->coordToPixel(y)));
        return c.red() > 200 && c.green() < 80;
    };
    QVERIFY(redAt(3, 2));  // drawn
    QVERIFY(redAt(7, 2));  // drawn after the break
    QVERIFY(redAt(9, 5));  // and on
    QVERIFY(!redAt(5, 2)); // the gap
}

void TestTrackPlot::plotFollowsTheFirstTrackThenKeepsItsLimits() {
    TrackPlot plot;
    plot.resize(609, 577);
    QVERIFY(!plot.axesFixed());
    const auto first = circuit(1, 2000);
    plot.appendTrack(first);
    // Before the first fit the axes follow the track.
    const AxisLimits followed = plot.currentLimits();
    QVERIFY(followed.eastMin <= -500 && followed.eastMax >= 500);

    plot.fixAxes();
    plot.fitTo(extent(-700, 700, -500, 500));
    const AxisLimits fitted = plot.currentLimits();

    // A second load's points arrive: the axes keep the fit until its own end.
    plot.clearTrack();
    std::vector<TrackPoint> far = circuit(1, 500);
    for (auto& p : far) p.east += 10000;
    plot.appendTrack(far);
    QCOMPARE(plot.currentLimits().eastMin, fitted.eastMin);
    QCOMPARE(plot.currentLimits().northMax, fitted.northMax);
    QCOMPARE(plot.track().size(), far.size());
}

void TestTrackPlot::plotFitsEqualSpansToTheNewTrack() {
    TrackPlot plot;
    plot.fixAxes();
    plot.fitTo(extent(-400, 600, -300, 200));
    // Equal spans far from the previous limits: the axes go to the new track.
    plot.fitTo(extent(5000, 5300, -9000, -8700));
    const AxisLimits now = plot.currentLimits();
    const double m = 300 * lorvane::track::kFitMargin;
    QCOMPARE(now.eastMin, 5000.0 - m);
    QCOMPARE(now.eastMax, 5300.0 + m);
    QCOMPARE(now.northMin, -9000.0 - m);
    QCOMPARE(now.northMax, -8700.0 + m);
    // A load that plotted nothing leaves them.
    plot.fitTo(TrackExtent{});
    QCOMPARE(plot.currentLimits().eastMin, 5000.0 - m);
    QCOMPARE(plot.currentLimits().northMax, -8700.0 + m);
}

void TestTrackPlot::plotMarkersReplaceEachOther() {
    TrackPlot plot;
    plot.setMarkers(lorvane::LocalPoint{10, 20}, lorvane::LocalPoint{-5, 7});
    plot.setMarkers(lorvane::LocalPoint{11, 21}, std::nullopt);
    QCOMPARE(plot.series(2)->dataCount(), 1);
    QCOMPARE(plot.series(2)->data()->at(0)->key, 11.0);
    QCOMPARE(plot.series(2)->data()->at(0)->value, 21.0);
    QCOMPARE(plot.series(3)->dataCount(), 0);
    // The track reset leaves them until the end of the load.
    plot.clearTrack();
    QCOMPARE(plot.series(2)->dataCount(), 1);
    plot.setMarkers(std::nullopt, std::nullopt);
    QCOMPARE(plot.series(2)->dataCount(), 0);
}

void TestTrackPlot::plotHighlightsOneLap() {
    TrackPlot plot;
    std::vector<TrackPoint> pts = circuit(3, 1000);
    // Samples before the base point are never plotted: indices start later.
    for (auto& p : pts) p.sample += 37;
    plot.appendTrack(pts);
    plot.highlightSamples(1037, 2037);
    QCOMPARE(plot.highlightedPoints(), std::size_t{1001});
    plot.highlightSamples(0, 36);
    QCOMPARE(plot.highlightedPoints(), std::size_t{0});
    plot.highlightSamples(2900, 99999);
    QCOMPARE(plot.highlightedPoints(), std::size_t{137});
    plot.clearHighlight();
    QCOMPARE(plot.highlightedPoints(), std::size_t{0});

    // Samples that were not plotted (a latitude of 0, say) leave a gap in
    // the indices; the track keeps only runs of them.
    TrackPlot gappy;
    std::vector<TrackPoint> holed;
    for (const auto& p : pts)
        if (p.sample < 1500 || p.sample >= 1510) holed.push_back(p);
    gappy.appendTrack(std::span(holed).subspan(0, 700));
    gappy.appendTrack(std::span(holed).subspan(700));
    QCOMPARE(gappy.track().size(), holed.size());
    for (std::size_t i : {std::size_t{0}, std::size_t{1462}, std::size_t{1463}, holed.size() - 1})
        QCOMPARE(gappy.trackSample(i), holed[i].sample);
    gappy.highlightSamples(1037, 2037);
    QCOMPARE(gappy.highlightedPoints(), std::size_t{991});
    gappy.highlightSamples(1502, 1508);
    QCOMPARE(gappy.highlightedPoints(), std::size_t{0});
    gappy.highlightSamples(1505, 1510);
    QCOMPARE(gappy.highlightedPoints(), std::size_t{1});
}

void TestTrackPlot::plotZoomPanAndBack() {
    TrackPlot plot;
    plot.resize(609, 577);
    plot.show();
    QVERIFY(QTest::qWaitForWindowExposed(&plot));

    // A million points arrive in loader-sized batches.
    const auto pts = circuit(100, 10000);
    for (std::size_t i = 0; i < pts.size(); i += 20000)
        plot.appendTrack(std::span(pts).subspan(i, std::min<std::size_t>(20000, pts.size() - i)));
    plot.fixAxes();
    TrackExtent e;
    for (const auto& p : pts) {
        e.maxEast = std::max(e.maxEast, p.east);
        e.minEast = std::min(e.minEast, p.east);
        e.maxNorth = std::max(e.maxNorth, p.north);
        e.minNorth = std::min(e.minNorth, p.north);
    }
    plot.fitTo(e);
    auto t0 = std::chrono::steady_clock::now();
    plot.replot();
    const double fullMs = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count();
    QCOMPARE(plot.track().size(), pts.size()); // the data stays whole
    QVERIFY(plot.drawnPoints() < pts.size() / 20);
    QVERIFY(plot.drawnPoints() > 0);

    // Rubber band zoom with the left button.
    const QRect r = plot.axisRect()->rect();
    const QPoint a = r.center() + QPoint(-60, -60), b = r.center() + QPoint(60, 60);
    QTest::mousePress(&plot, Qt::LeftButton, {}, a);
    QMouseEvent move(QEvent::MouseMove, b, plot.mapToGlobal(b), Qt::NoButton, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(&plot, &move);
    QTest::mouseRelease(&plot, Qt::LeftButton, {}, b);
    const AxisLimits zoomed = plot.currentLimits();
    QVERIFY(zoomed.eastMax - zoomed.eastMin < (e.maxEast - e.minEast) / 2);
    t0 = std::chrono::steady_clock::now();
    plot.replot();
    const double zoomMs = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count();
    qInfo("replot of 1,000,000 points: whole %.1f ms, zoomed %.1f ms, %zu drawn", fullMs, zoomMs, plot.drawnPoints());

    // Drag with the right button pans by the distance moved.
    const QPoint c = r.center();
    QTest::mousePress(&plot, Qt::RightButton, {}, c);
    QMouseEvent drag(QEvent::MouseMove, c + QPoint(50, 0), plot.mapToGlobal(c + QPoint(50, 0)), Qt::NoButton,
                     Qt::RightButton, Qt::NoModifier);
    QApplication::sendEvent(&plot, &drag);
    QTest::mouseRelease(&plot, Qt::RightButton, {}, c + QPoint(50, 0));
    const AxisLimits panned = plot.currentLimits();
    QVERIFY(panned.eastMin < zoomed.eastMin);
    QVERIFY(std::abs((panned.eastMax - panned.eastMin) - (zoomed.eastMax - zoomed.eastMin)) < 1e-6);
    QCOMPARE(panned.northMin, zoomed.northMin);

    // A double-click goes back to the fitted view; so does a right click.
    QTest::mouseDClick(&plot, Qt::LeftButton, {}, c);
    QCOMPARE(plot.currentLimits().eastMin, plot.fittedLimits()->eastMin);
    QCOMPARE(plot.currentLimits().northMax, plot.fittedLimits()->northMax);
    plot.xAxis->setRange(0, 10);
    QTest::mouseClick(&plot, Qt::RightButton, {}, c);
    QCOMPARE(plot.currentLimits().eastMax, plot.fittedLimits()->eastMax);
}

void TestTrackPlot::plotKeepsMetresSquareAtEveryShape() {
    TrackPlot plot;
    plot.resize(609, 577);
    plot.show();
    QVERIFY(QTest::qWaitForWindowExposed(&plot));
    plot.appendTrack(circuit(1, 2000));
    plot.fixAxes();
    const TrackExtent e = extent(-700, 700, -470, 470);
    // Pixels per metre across over pixels per metre up, as painted.
    auto ratio = [&plot] {
        plot.replot();
        const double across = plot.xAxis->coordToPixel(1) - plot.xAxis->coordToPixel(0);
        const double up = plot.yAxis->coordToPixel(0) - plot.yAxis->coordToPixel(1);
        return across / up;
    };
    plot.fitTo(e);
    QVERIFY(std::abs(ratio() - 1) < 0.01);
    const AxisLimits fitted = plot.currentLimits();
    // Maximised, then tall and narrow: the fit stays whole and square, as
    // large as the plot allows; fitted again (the laps cut again), back to
    // the fit after a zoom, and a zoom of the user's, at each shape.
    for (const QSize size : {QSize(1500, 640), QSize(420, 900)}) {
        plot.resize(size);
        QTest::qWait(20);
        QVERIFY2(std::abs(ratio() - 1) < 0.01, qPrintable(QString::number(ratio())));
        QCOMPARE(plot.currentLimits().eastMin, fitted.eastMin);
        QCOMPARE(plot.currentLimits().northMax, fitted.northMax);
        const QRect area = plot.axisRect()->rect();
        QVERIFY(std::min(area.width(), area.height()) > std::min(size.width(), size.height()) - 100);
        plot.fitTo(e);
        QVERIFY2(std::abs(ratio() - 1) < 0.01, qPrintable(QString::number(ratio())));
        plot.xAxis->setRange(-50, 50);
        plot.resetView();
        QVERIFY2(std::abs(ratio() - 1) < 0.01, qPrintable(QString::number(ratio())));
        plot.xAxis->setRange(-300, 100);
        plot.yAxis->setRange(-100, 0);
        QVERIFY2(std::abs(ratio() - 1) < 0.01, qPrintable(QString::number(ratio())));
        plot.resetView();
    }
}

void TestTrackPlot::plotDrawsADraggedGateAsItMoves() {
    TrackPlot plot;
    plot.resize(609, 577);
    plot.show();
    QVERIFY(QTest::qWaitForWindowExposed(&plot));
    const auto pts = circuit(1, 2000, 0.05);
    plot.appendTrack(pts);
    plot.fixAxes();
    plot.fitTo(extent(-700, 700, -470, 470));
    // A gate across the track at sample 100, 12 m each side, its arrow along
    // the direction of travel.
    auto across = [&pts](std::size_t i) {
        const double de = pts[i + 5].east - pts[i].east, dn = pts[i + 5].north - pts[i].north;
        const double len = std::hypot(de, dn);
        return std::pair(de / len, dn / len);
    };
    const auto [ue, un] = across(100);
    const lorvane::LocalPoint p1{pts[100].east, pts[100].north};
    lorvane::track::GateLine gate{{p1.east - un * 12, p1.north + ue * 12},
                                  {p1.east + un * 12, p1.north - ue * 12},
                                  p1,
                                  lorvane::LocalPoint{p1.east + ue * 7.2, p1.north + un * 7.2}};
    plot.setGateLines({gate});
    plot.setGateHandles({p1});
    plot.replot();
    QSignalSpy dropped(&plot, &TrackPlot::gateDragged);
    auto pixel = [&plot](double e, double n) {
        return QPoint(int(std::lround(plot.xAxis->coordToPixel(e))), int(std::lround(plot.yAxis->coordToPixel(n))));
    };
    QTest::mousePress(&plot, Qt::LeftButton, {}, pixel(p1.east, p1.north));
    // Moved a little off the track at sample 700: the line is drawn across the
    // track there at once, as long as before, and nothing is reported yet.
    const QPoint to = pixel(pts[700].east + 3, pts[700].north);
    QMouseEvent move(QEvent::MouseMove, to, plot.mapToGlobal(to), Qt::NoButton, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(&plot, &move);
    QCOMPARE(dropped.size(), 0);
    const auto* line = plot.gateCurve()->data().data();
    QCOMPARE(line->size(), 2);
    const auto a = line->at(0), b = line->at(1);
    std::size_t on = 0; // the track point it is drawn across
    for (std::size_t i = 1; i < pts.size(); ++i)
        if (std::hypot((a->key + b->key) / 2 - pts[i].east, (a->value + b->value) / 2 - pts[i].north) <
            std::hypot((a->key + b->key) / 2 - pts[on].east, (a->value + b->value) / 2 - pts[on].north))
            on = i;
    QVERIFY(on > 690 && on < 710);
    QVERIFY(std::hypot((a->key + b->key) / 2 - pts[on].east, (a->value + b->value) / 2 - pts[on].north) < 1e-6);
    QVERIFY(std::abs(std::hypot(b->key - a->key, b->value - a->value) - 24) < 1e-6);
    const auto [te, tn] = across(on);
    QVERIFY(std::abs((b->key - a->key) * te + (b->value - a->value) * tn) < 24 * 0.05);
    QCOMPARE(plot.gateArrows(), 1);
    const auto* arrow = qobject_cast<QCPItemLine*>(plot.item(0));
    QVERIFY(arrow);
    QVERIFY((arrow->end->coords() - arrow->start->coords()).x() * te +
                (arrow->end->coords() - arrow->start->coords()).y() * tn >
            7.0);
    // Released: reported once; the window draws the lines it then uses.
    QTest::mouseRelease(&plot, Qt::LeftButton, {}, to);
    QCOMPARE(dropped.size(), 1);
    QCOMPARE(plot.gateCurve()->data()->at(0)->key, gate.from.east);
}

QTEST_MAIN(TestTrackPlot)
#include "test_track_plot.moc"
