// The strip chart's channel panes, the track coloured by a value, and saving
// either plot as a picture.
#include <cmath>

#include <QAction>
#include <QMenu>
#include <QtTest/QTest>

#include "analysis/lap_delta.h"
#include "gui/display/lap_chart.h"
#include "gui/display/track_plot.h"
#include "gui_support.h"
#include "session/session.h"

using lorvane::display::ChartChannel;
using lorvane::display::LapChart;

namespace {

// A lap of `metres` driven at a steady `kmh`, a point every 10 m.
std::shared_ptr<lorvane::LapTrace> steadyLap(int lap, double metres, double kmh) {
    auto t = std::make_shared<lorvane::LapTrace>();
    t->lap = lap;
    for (double d = 0; d <= metres; d += 10) {
        lorvane::TracePoint p;
        p.distance = d;
        p.time = d / (kmh / 3.6);
        p.speed = kmh;
        p.east = d;
        p.sample = static_cast<std::int32_t>(d / 10);
        t->points.push_back(p);
    }
    t->distance = metres;
    t->time = t->points.back().time;
    t->maxSpeed = kmh;
    return t;
}

// A channel whose value at each point is `base` plus its distance in metres.
std::vector<double> rising(const lorvane::LapTrace& t, double base) {
    std::vector<double> v;
    for (const auto& p : t.points) v.push_back(base + p.distance);
    return v;
}

// The main window with a generated session loaded, its fastest lap compared
// with its slowest.
struct Loaded : guitest::MainWindow {
    guitest::SessionFiles files{guitest::sessionOptions(5, 4, false)};
    bool ok = load(files.gxr, files.zlg);
    QAction* item(QMenu* guitest::FormUi::*menu, const QString& caption) {
        QAction* a = guitest::menuEntry(guitest::ui(form).*menu, caption);
        if (!a) qFatal("no menu entry %s", qPrintable(caption));
        return a;
    }
    void compareSlowest() {
        const auto& laps = form.analysis().laps;
        std::int32_t slow = 0;
        double worst = -1;
        for (const auto& l : laps)
            if (l.traced && l.lap != form.snapshot().selectedLap && l.time > worst) {
                worst = l.time;
                slow = l.lap;
            }
        form.compareWith(slow);
    }
};

} // namespace

class TestChart : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() { qRegisterMetaType<lorvane::LoadReport>(); }
    void panesCursorUnitsAndTimeAxis();
    void logChannelsInTheWindow();
    void colouredTrack();
    void savingPlots();
};

void TestChart::panesCursorUnitsAndTimeAxis() {
    LapChart chart;
    chart.resize(600, 300);
    chart.show();
    QVERIFY(QTest::qWaitForWindowExposed(&chart));
    // The compared lap is slower over a longer lap.
    const auto ref = steadyLap(3, 1000, 72), cmp = steadyLap(5, 1100, 60);
    chart.setLaps(ref, cmp);
    QCOMPARE(chart.paneCount(), 1);

    ChartChannel rpm;
    rpm.name = QStringLiteral("RPM");
    rpm.unit = "rpm";
    rpm.reference = rising(*ref, 1000);
    rpm.compared = rising(*cmp, 2000);
    ChartChannel gps; // metres per second, shown as a speed
    gps.name = QStringLiteral("GPS speed");
    gps.unit = "m/s";
    gps.reference = std::vector<double>(ref->points.size(), 20.0);
    chart.setChannels({ChartChannel::derivedSpeed(), rpm, gps});
    QCOMPARE(chart.paneCount(), 3);
    QCOMPARE(chart.pane(1)->axis(QCPAxis::atLeft)->label(), QStringLiteral("rpm"));
    QCOMPARE(chart.pane(2)->axis(QCPAxis::atLeft)->label(), QStringLiteral("km/h"));
    // The compared lap has no such channel: only the chosen lap's curve.
    QCOMPARE(chart.comparedGraph(2)->dataCount(), 0);
    for (int i = 0; i < chart.paneCount(); ++i) {
        QVERIFY(chart.referenceGraph(i)->dataCount() > 10);
        QVERIFY(chart.referenceGraph(i)->dataCount() <= chart.pane(i)->width());
    }

    chart.setCursorDistance(505);
    QCOMPARE(*chart.cursorValue(0, false), 72.0);
    QCOMPARE(*chart.cursorValue(1, false), 1505.0);
    QCOMPARE(*chart.cursorValue(1, true), 2505.0);
    QCOMPARE(*chart.cursorValue(2, false), 72.0);
    QVERIFY(!chart.cursorValue(2, true));
    QVERIFY(chart.cursorText().contains(QStringLiteral("RPM: lap 3 1505 lap 5 2505 rpm")));

    // Miles an hour and feet: the speeds and the distance axis follow.
    chart.setUnits({lorvane::SpeedUnit::Mph, lorvane::DistanceUnit::Feet});
    QCOMPARE(chart.xAxis->range().upper, 1100 / 0.3048);
    QVERIFY(std::abs(*chart.cursorValue(2, false) - 72 / 1.609344) < 1e-9);
    QVERIFY(chart.cursorText().startsWith(QStringLiteral("1657 ft")));
    chart.setUnits({});

    // Against time: the compared lap is read at the same time into the lap.
    chart.setXAxis(LapChart::XAxis::Time);
    QCOMPARE(chart.pane(2)->axis(QCPAxis::atBottom)->label(), QStringLiteral("Time (s)"));
    QCOMPARE(chart.xAxis->range().upper, cmp->time);
    const double t = 505 / 20.0; // 72 km/h
    QVERIFY(std::abs(*chart.cursorValue(1, true) - (2000 + t * 60 / 3.6)) < 1e-6);
    chart.setXAxis(LapChart::XAxis::Distance);

    // Dropping channels drops their panes; what is left is the top pane.
    chart.setChannels({rpm});
    QCOMPARE(chart.paneCount(), 1);
    QCOMPARE(chart.yAxis->label(), QStringLiteral("RPM (rpm)"));
    QCOMPARE(*chart.cursorValue(0, true), 2505.0);
    chart.setChannels({});
    QCOMPARE(chart.paneName(0), QStringLiteral("Speed"));
}

void TestChart::logChannelsInTheWindow() {
    Loaded w;
    QVERIFY(w.ok);
    w.compareSlowest();
    LapChart* chart = guitest::ui(w.form).Chart2;
    const lorvane::Track& track = *w.form.snapshot().log()->track;
    const auto heading = track.channels.find("Heading");
    QVERIFY(heading.has_value());
    QCOMPARE(chart->paneCount(), 1);
    w.item(&guitest::FormUi::ChartChannelsMenu, QStringLiteral("Heading"))->trigger();
    QCOMPARE(chart->paneCount(), 2);
    QCOMPARE(chart->paneName(1), QStringLiteral("Heading"));
    QVERIFY(chart->comparedGraph(1)->dataCount() > 10);
    // At a point of the chosen lap the cursor reads that sample's value.
    const lorvane::LapTrace& ref = *chart->reference();
    const lorvane::TracePoint& p = ref.points[ref.points.size() / 2];
    chart->setCursorDistance(p.distance);
    const auto row = lorvane::trackIndex(track, p.sample);
    QVERIFY(row.has_value());
    QCOMPARE(*chart->cursorValue(1, false), track.channels.columns[*heading].at(*row));
    QVERIFY(chart->cursorValue(1, true).has_value());
    w.item(&guitest::FormUi::ChartChannelsMenu, QStringLiteral("Speed"))->trigger();
    QCOMPARE(chart->paneCount(), 1);
    QCOMPARE(chart->paneName(0), QStringLiteral("Heading"));
    // A reference file's lap has no channels: the selected lap alone on
    // the Heading pane, and only its value read at the cursor.
    const auto log = w.session.loaded();
    const QString refPath = w.files.path(QStringLiteral("LAP.REF"));
    lorvane::saveLapRefFile(*log, lorvane::pickLap(*log, log->bestLap), guitest::toPath(refPath), false);
    w.prompts.files << refPath;
    guitest::ui(w.form).actOpenReference->trigger();
    QCOMPARE(chart->reference()->lap, 0);
    QCOMPARE(chart->referenceGraph(0)->dataCount(), 0);
    QVERIFY(chart->comparedGraph(0)->dataCount() > 10);
    chart->setCursorDistance(500);
    QVERIFY(!chart->cursorValue(0, false) && chart->cursorValue(0, true));
    QVERIFY(!chart->cursorText().contains(QStringLiteral("Heading: lap 0")));
    // The time axis from the Laps menu.
    guitest::ui(w.form).actChartTime->trigger();
    QCOMPARE(chart->xAxisKind(), LapChart::XAxis::Time);
}

void TestChart::colouredTrack() {
    // The lowest value at the blue end, the highest at the red end.
    lorvane::display::TrackPlot plot;
    std::vector<lorvane::LocalPoint> path;
    std::vector<double> values;
    for (int i = 0; i < 100; ++i) {
        path.push_back({i * 10.0, 0});
        values.push_back(50 + i);
    }
    values[40] = lorvane::kNoValue;
    plot.setPathColours(false, path, values, QStringLiteral("RPM"), "rpm",
                        lorvane::display::ColouredPath::Scale::Sequential);
    const auto* c = plot.colouredPath();
    QCOMPARE(c->low(), 50.0);
    QCOMPARE(c->high(), 149.0);
    QVERIFY(std::abs(c->colourAt(0).hueF() - 240.0 / 360) < 0.03);
    QVERIFY(c->colourAt(99).hueF() < 0.03);
    QVERIFY(c->colourAt(20).hueF() > c->colourAt(60).hueF());
    QCOMPARE(c->colourAt(40).saturation(), 0); // no value: grey
    QVERIFY(!plot.referencePath()->visible());
    plot.clearPathColours();
    QVERIFY(plot.referencePath()->visible());

    // Time lost: the compared lap's path by its delta on the reference lap.
    Loaded w;
    QVERIFY(w.ok);
    w.compareSlowest();
    w.item(&guitest::FormUi::TrackColourMenu, QStringLiteral("Time lost"))->trigger();
    const auto& s = w.form.snapshot();
    const auto* lost = guitest::ui(w.form).Chart1->colouredPath();
    QCOMPARE(lost->name(), QStringLiteral("Time lost"));
    const auto delta = lorvane::deltaAtPoints(*s.compared, *s.selected);
    QCOMPARE(lost->high(), -lost->low());
    const double finish = *delta.back();
    QVERIFY(finish > 0);
    QVERIFY(lost->high() >= finish);
    // The end of the slower lap is in the red half, its start (delta 0) grey.
    const QColor end = lost->colourAt(delta.size() - 2);
    QVERIFY(end.red() > end.green());
    QCOMPARE(lost->colourOf(*delta.back()), lost->colourAt(delta.size() - 1));
    QVERIFY(!guitest::ui(w.form).Chart1->comparedPath()->visible());
    // Per 100 m: where the delta climbs, red; the bar around 0.
    w.item(&guitest::FormUi::TrackColourMenu, QStringLiteral("Time lost per 100 m"))->trigger();
    QCOMPARE(lost->name(), QStringLiteral("Time lost per 100 m"));
    QVERIFY(lost->high() > 0 && lost->high() == -lost->low());
    w.item(&guitest::FormUi::TrackColourMenu, QStringLiteral("Speed"))->trigger();
    QCOMPARE(lost->high(), s.selected->maxSpeed);
    guitest::ui(w.form).Chart1->setUnits({lorvane::SpeedUnit::Mph, lorvane::DistanceUnit::Metres});
    QCOMPARE(lost->legendText(), QStringLiteral("Speed (mph)"));
    // In feet the plot's ticks fall on round numbers of feet; its points stay in metres.
    lorvane::display::TrackPlot* window = guitest::ui(w.form).Chart1;
    const QCPRange before = window->xAxis->range();
    window->setUnits({lorvane::SpeedUnit::Kmh, lorvane::DistanceUnit::Feet});
    window->replot();
    QCOMPARE(window->xAxis->label(), QStringLiteral("East (ft)"));
    QCOMPARE(window->xAxis->range(), before);
    const QVector<double> ticks = window->xAxis->tickVector();
    QVERIFY(ticks.size() >= 2);
    const double step = (ticks[1] - ticks[0]) / 0.3048;
    QVERIFY(std::abs(step - std::round(step)) < 1e-6 &&
            std::abs(ticks[0] / 0.3048 / step - std::round(ticks[0] / 0.3048 / step)) < 1e-6);
    window->setUnits({});
    w.item(&guitest::FormUi::TrackColourMenu, QStringLiteral("None"))->trigger();
    QVERIFY(lost->empty());
}

void TestChart::savingPlots() {
    Loaded w;
    QVERIFY(w.ok);
    QTemporaryDir dir;
    const QList<std::pair<QString, QByteArray>> kinds{{QStringLiteral("t.png"), QByteArray("\x89PNG")},
                                                      {QStringLiteral("t.svg"), QByteArray("<?xml")},
                                                      {QStringLiteral("c.pdf"), QByteArray("%PDF")}};
    for (const auto& [name, magic] : kinds) {
        w.prompts.files << dir.filePath(name);
        const guitest::FormUi ui = guitest::ui(w.form);
        (name.startsWith(QLatin1Char('c')) ? ui.actSaveChart : ui.actSavePlot)->trigger();
        const QByteArray bytes = guitest::readAll(dir.filePath(name));
        QVERIFY2(bytes.startsWith(magic), qPrintable(name));
        QVERIFY(bytes.size() > 1000);
    }
    QCOMPARE(w.prompts.unexpected, 0);
    // A folder that does not exist, and a kind we cannot write: the error
    // names the file, and nothing is left behind.
    for (const QString& bad : {dir.filePath(QStringLiteral("none/x.png")), dir.filePath(QStringLiteral("x.bmp"))}) {
        w.prompts.clear();
        w.prompts.files << bad;
        guitest::ui(w.form).actSavePlot->trigger();
        QCOMPARE(w.prompts.kinds(), (QStringList{QStringLiteral("save"), QStringLiteral("error")}));
        QVERIFY(w.prompts.asked[1].text.contains(bad));
        QVERIFY(!QFile::exists(bad));
    }
    QCOMPARE(QDir(dir.path()).entryList(QDir::Files).size(), 3);
}

QTEST_MAIN(TestChart)
#include "test_chart.moc"
