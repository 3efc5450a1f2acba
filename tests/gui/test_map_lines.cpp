// Lines on the map and the circuit database in the main window: gates placed
// by clicking the track cut the laps at once and save to a .gxr that cuts the
// same laps; a log loaded without a start/finish file finds its circuit.
#include <cmath>

#include <QAction>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QtTest/QTest>

#include "circuits/circuit_db.h"
#include "gui/app/Unit1.h"
#include "gui/dbtools/circuit_store.h"
#include "gui/dbtools/uAddToDataBase.h"
#include "gui/display/lap_chart.h"
#include "gui/display/track_plot.h"
#include "gui_support.h"
#include "session/lap_check.h"
#include "track/gate_lines.h"

using guitest::ScriptedPrompts;
using guitest::SessionFiles;
using PlaceMode = TForm1::PlaceMode;

namespace {

struct Window : guitest::MainWindow {
    // The plane point of track sample `i` of the loaded log.
    lorvane::LocalPoint sample(std::size_t i) const {
        const auto& t = session.loaded()->track->samples[i];
        return {t.east, t.north};
    }
};

QStringList freshLines(const QString& gxr, const QString& log, const lorvane::GateRules& rules = {}) {
    lorvane::Session s;
    s.loadStartFinish(guitest::toPath(gxr));
    s.setGateRules(rules);
    lorvane::SessionObserver quiet;
    s.loadLog(lorvane::LogKind::Text, guitest::toPath(log), quiet);
    QStringList l;
    for (const auto& lap : s.laps()) l << QString::fromStdString(lap.line);
    return l;
}

lorvane::Circuit circuitOf(const std::string& name, const lorvane::StartFinish& sf, std::optional<double> distance) {
    lorvane::Circuit c;
    c.name = name;
    c.start = sf.start;
    if (sf.hasFinishLine) c.finish = sf.finish;
    c.lapDistance = distance;
    return c;
}

} // namespace

class TestMapLines : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() { qRegisterMetaType<lorvane::LoadReport>(); }
    void clickingTheTrackPlacesTheStartLine();
    void finishAndSplitLines();
    void draggingPointOneMovesTheGate();
    void savedLinesReloadToTheSameLaps();
    void oneCircuitIsUsedAtOnce();
    void severalLayoutsAreOffered();
    void noCircuitAsksForAGxr();
    void splitLinesGoIntoTheDatabaseAndComeBack();
    void aFinishLineKeepsTheLapAndGoesWithItsRules();
    void onlyAFixWithBelievableLapsIsOffered();
    void closingAsksToSavePlacedLines();
};

void TestMapLines::clickingTheTrackPlacesTheStartLine() {
    SessionFiles files(guitest::sessionOptions(81, 4, false));
    Window w;
    QVERIFY(w.load(files.gxr, files.zlg));
    QCOMPARE(guitest::ui(w.form).LapTimeBox->count(), 4);
    const auto log = w.session.loaded();
    const lorvane::LocalPoint start = log->plane.toLocal(w.session.gates().start.lat1, w.session.gates().start.long1);

    // Somewhere else first: the laps are cut at the new line at once.
    guitest::ui(w.form).actPlaceStart->trigger();
    QVERIFY(guitest::ui(w.form).Chart1->placing());
    const std::size_t elsewhere = log->track->samples.size() / 3;
    w.form.placeLineAt(w.sample(elsewhere));
    QVERIFY(!guitest::ui(w.form).Chart1->placing());
    QCOMPARE(QString::fromStdString(w.session.gxrFileName()), QStringLiteral("lines placed on the map"));
    QVERIFY(guitest::ui(w.form).StatusLabel->text().contains(QStringLiteral("lines placed on the map")));
    const auto moved = w.session.loaded();
    QVERIFY(moved != log);
    QVERIFY(moved->crossings.front().sample != log->crossings.front().sample);

    // Then a real click on the start line as drawn: the same laps as the file.
    guitest::ui(w.form).actPlaceStart->trigger();
    guitest::ui(w.form).Chart1->replot();
    const QPoint px(static_cast<int>(guitest::ui(w.form).Chart1->xAxis->coordToPixel(start.east)),
                    static_cast<int>(guitest::ui(w.form).Chart1->yAxis->coordToPixel(start.north)));
    QTest::mouseClick(guitest::ui(w.form).Chart1, Qt::LeftButton, {}, px);
    QCOMPARE(guitest::ui(w.form).LapTimeBox->count(), 4);
    // Point 2 lies ahead along the direction of travel: forward keeps every lap.
    w.form.applyGateRules(lorvane::GateRules{lorvane::GateDirection::Forward, {}, 0});
    QCOMPARE(guitest::ui(w.form).LapTimeBox->count(), 4);
    QCOMPARE(guitest::ui(w.form).Chart1->gateArrows(), 1);
    w.form.applyGateRules(lorvane::GateRules{lorvane::GateDirection::Reverse, {}, 0});
    QCOMPARE(guitest::ui(w.form).LapTimeBox->count(), 0);
    QCOMPARE(w.prompts.unexpected, 0);
}

void TestMapLines::finishAndSplitLines() {
    SessionFiles files(guitest::sessionOptions(82, 3, false));
    Window w;
    QVERIFY(w.load(files.gxr, files.zlg));
    const QStringList before = w.lines();
    const std::size_t n = w.session.loaded()->track->samples.size();

    w.form.setPlaceMode(PlaceMode::Finish);
    w.form.placeLineAt(w.sample(n / 2));
    QVERIFY(w.session.hasFinishLine());
    QVERIFY(w.session.loaded()->startFinish.gates.hasFinishLine);
    QCOMPARE(guitest::ui(w.form).Chart1->gateCurve()->dataCount(), 5); // two lines and the gap between
    QVERIFY(w.lines() != before);

    w.form.setPlaceMode(PlaceMode::Split);
    w.form.placeLineAt(w.sample(n / 4));
    QCOMPARE(w.session.loaded()->startFinish.splits.size(), std::size_t{1});
    QCOMPARE(guitest::ui(w.form).Chart1->gateCurve()->dataCount(), 8);

    // The finish line goes, the split stays, and the laps are the file's again.
    guitest::ui(w.form).actRemoveFinish->trigger();
    QVERIFY(!w.session.hasFinishLine());
    QCOMPARE(w.session.loaded()->startFinish.splits.size(), std::size_t{1});
    QCOMPARE(guitest::ui(w.form).Chart1->gateCurve()->dataCount(), 5);
    QCOMPARE(w.lines(), before);
    QCOMPARE(w.prompts.unexpected, 0);
}

void TestMapLines::draggingPointOneMovesTheGate() {
    SessionFiles files(guitest::sessionOptions(89, 4, true));
    Window w;
    QVERIFY(w.load(files.gxr, files.zlg));
    const QStringList before = w.lines();
    auto* plot = guitest::ui(w.form).Chart1;
    plot->replot();
    QCOMPARE(plot->gateHandles().size(), std::size_t{2}); // start and finish
    auto pixel = [plot](const lorvane::LocalPoint& p) {
        return QPoint(static_cast<int>(std::lround(plot->xAxis->coordToPixel(p.east))),
                      static_cast<int>(std::lround(plot->yAxis->coordToPixel(p.north))));
    };
    const lorvane::LocalPoint finish = plot->gateHandles()[1];
    const auto firstCrossing = w.session.loaded()->crossings.front().sample;
    const std::size_t n = w.session.loaded()->track->samples.size();
    const lorvane::LocalPoint target = w.sample(n / 3);

    // The finish gate is dragged away: the laps change, the start stays.
    const auto start = w.session.gates().start;
    QTest::mousePress(plot, Qt::LeftButton, {}, pixel(finish));
    QTest::mouseMove(plot, pixel(target));
    QTest::mouseRelease(plot, Qt::LeftButton, {}, pixel(target));
    QCOMPARE(w.session.gates().start.lat1, start.lat1);
    const auto& moved = w.session.gates().finish;
    const lorvane::LocalPoint at = w.session.loaded()->plane.toLocal(moved.lat1, moved.long1);
    QVERIFY(std::hypot(at.east - target.east, at.north - target.north) < 5.0);
    QVERIFY(w.lines() != before);
    QCOMPARE(w.session.loaded()->crossings.front().sample, firstCrossing);
    // Dragged back onto the finish line: the file's laps again.
    QTest::mousePress(plot, Qt::LeftButton, {}, pixel(plot->gateHandles()[1]));
    QTest::mouseRelease(plot, Qt::LeftButton, {}, pixel(finish));
    QCOMPARE(w.lines().size(), before.size());
    // A press away from every handle zooms as before and moves nothing.
    const auto still = w.session.startFinish().text;
    QTest::mouseClick(plot, Qt::LeftButton, {}, pixel(target) + QPoint(40, 40));
    QCOMPARE(w.session.startFinish().text, still);
    QCOMPARE(w.prompts.unexpected, 0);
}

void TestMapLines::savedLinesReloadToTheSameLaps() {
    SessionFiles files(guitest::sessionOptions(83, 4, false));
    Window w;
    QVERIFY(w.load(files.gxr, files.zlg));
    const std::size_t n = w.session.loaded()->track->samples.size();
    w.form.setPlaceMode(PlaceMode::Start);
    w.form.placeLineAt(w.sample(n / 5));
    w.form.setPlaceMode(PlaceMode::Finish);
    w.form.placeLineAt(w.sample(n / 2));
    const QStringList placed = w.lines();
    QVERIFY(!placed.isEmpty());

    // No "gxr" in the chosen name: the extension is added so that it loads.
    w.prompts.files << files.path(QStringLiteral("placed"));
    guitest::ui(w.form).actSaveStartFinish->trigger();
    const QString saved = files.path(QStringLiteral("placed.gxr"));
    QVERIFY(QFileInfo::exists(saved));
    const QByteArray bytes = guitest::readAll(saved);
    QVERIFY(bytes.startsWith("[Start finish]\r\n"));
    QCOMPARE(QString::fromStdString(w.session.gxrFileName()), saved);
    QCOMPARE(w.lines(), placed);
    QCOMPARE(freshLines(saved, files.zlg), placed);
    // A reference file made now copies the saved file's text.
    const auto log = w.session.loaded();
    const std::string ref = lorvane::composeLapRefFile(*log, lorvane::pickLap(*log, 1), false);
    QVERIFY(QByteArray::fromStdString(ref).startsWith(bytes));

    // A failed save changes nothing.
    w.prompts.files << files.path(QStringLiteral("no/such/folder/x.gxr"));
    guitest::ui(w.form).actSaveStartFinish->trigger();
    QCOMPARE(w.prompts.kinds().count(QStringLiteral("error")), 1);
    QCOMPARE(QString::fromStdString(w.session.gxrFileName()), saved);
    QCOMPARE(w.prompts.unexpected, 0);
}

void TestMapLines::oneCircuitIsUsedAtOnce() {
    SessionFiles files(guitest::sessionOptions(84, 3, true));
    SessionFiles other(guitest::sessionOptions(85, 3, false));
    const std::string db = guitest::toPath(files.path(QStringLiteral("circuits.db")));
    {
        auto d = lorvane::CircuitDb::open(db);
        d.addCircuit(circuitOf("Home", lorvane::readStartFinishFile(guitest::toPath(files.gxr)), 2000.0));
        d.addCircuit(circuitOf("Away", lorvane::readStartFinishFile(guitest::toPath(other.gxr)), 1500.0));
    }
    Window w;
    QVERIFY(!guitest::ui(w.form).LoadZLG->isEnabled());
    w.form.setCircuitDbPath(db);
    QVERIFY(guitest::ui(w.form).LoadZLG->isEnabled());
    w.prompts.files << files.zlg;
    guitest::ui(w.form).LoadZLG->click();
    QVERIFY(w.ended.wait(60000));
    QCOMPARE(QString::fromStdString(w.session.gxrFileName()), QStringLiteral("Home"));
    QVERIFY(guitest::ui(w.form).StatusLabel->text().contains(QStringLiteral("circuit Home from the database")));
    QCOMPARE(w.lines(), freshLines(files.gxr, files.zlg));
    QCOMPARE(w.prompts.kinds(), QStringList{QStringLiteral("open")});

    // The next log is looked up again.
    w.prompts.files << other.zlg;
    guitest::ui(w.form).LoadZLG->click();
    QVERIFY(w.ended.wait(60000));
    QCOMPARE(QString::fromStdString(w.session.gxrFileName()), QStringLiteral("Away"));
    QCOMPARE(w.lines(), freshLines(other.gxr, other.zlg));
    QCOMPARE(w.prompts.unexpected, 0);
}

void TestMapLines::severalLayoutsAreOffered() {
    SessionFiles files(guitest::sessionOptions(86, 3, false));
    const std::string db = guitest::toPath(files.path(QStringLiteral("circuits.db")));
    const auto sf = lorvane::readStartFinishFile(guitest::toPath(files.gxr));
    {
        auto d = lorvane::CircuitDb::open(db);
        d.addCircuit(circuitOf("Full", sf, 2500.0));
        d.addCircuit(circuitOf("Club", sf, std::nullopt));
    }
    Window w;
    w.form.setCircuitDbPath(db);
    w.prompts.files << files.zlg;
    w.prompts.choices << 1;
    guitest::ui(w.form).LoadZLG->click();
    QVERIFY(w.ended.wait(60000));
    QCOMPARE(w.prompts.kinds(), (QStringList{QStringLiteral("open"), QStringLiteral("choose")}));
    QCOMPARE(w.prompts.offered.size(), 2);
    QVERIFY(w.prompts.offered.join(u'|').contains(QStringLiteral("2500.0 m")));
    const QString second = w.prompts.offered.at(1).section(QStringLiteral(" \u2014 "), 0, 0);
    QCOMPARE(QString::fromStdString(w.session.gxrFileName()), second);
    QCOMPARE(w.lines(), freshLines(files.gxr, files.zlg));

    // Cancelled: no circuit is put in force.
    Window v;
    v.form.setCircuitDbPath(db);
    v.prompts.files << files.zlg;
    v.prompts.choices << std::nullopt;
    guitest::ui(v.form).LoadZLG->click();
    QVERIFY(v.ended.wait(60000));
    QVERIFY(!v.session.hasStartFinish());
    QVERIFY(guitest::ui(v.form).StatusLabel->text().contains(QStringLiteral("no circuit chosen")));
}

void TestMapLines::noCircuitAsksForAGxr() {
    SessionFiles files(guitest::sessionOptions(87, 2, false));
    SessionFiles other(guitest::sessionOptions(88, 2, false));
    const std::string db = guitest::toPath(files.path(QStringLiteral("circuits.db")));
    {
        auto d = lorvane::CircuitDb::open(db);
        d.addCircuit(circuitOf("Elsewhere", lorvane::readStartFinishFile(guitest::toPath(other.gxr)), 1000.0));
    }
    Window w;
    w.form.setCircuitDbPath(db);
    w.prompts.files << files.zlg;
    guitest::ui(w.form).LoadZLG->click();
    QVERIFY(w.ended.wait(60000));
    QVERIFY(!w.session.hasStartFinish());
    QCOMPARE(guitest::ui(w.form).LapTimeBox->count(), 0);
    QCOMPARE(w.prompts.kinds(), (QStringList{QStringLiteral("open"), QStringLiteral("inform")}));
    QVERIFY(w.prompts.asked.last().text.contains(QStringLiteral(".gxr")));

    // An empty database does not open the log loads.
    Window v;
    const std::string empty = guitest::toPath(files.path(QStringLiteral("empty.db")));
    lorvane::CircuitDb::open(empty);
    v.form.setCircuitDbPath(empty);
    QVERIFY(!guitest::ui(v.form).LoadZLG->isEnabled());
}

void TestMapLines::splitLinesGoIntoTheDatabaseAndComeBack() {
    SessionFiles files(guitest::sessionOptions(90, 3, false));
    const std::string db = guitest::toPath(files.path(QStringLiteral("circuits.db")));
    Window w;
    QVERIFY(w.load(files.gxr, files.zlg));
    const std::size_t n = w.session.loaded()->track->samples.size();
    for (std::size_t at : {n / 3, n / 2}) {
        w.form.setPlaceMode(PlaceMode::Split);
        w.form.placeLineAt(w.sample(at));
    }
    const QStringList laps = w.lines();
    TAddToDatabaseForm add(w.prompts);
    add.setCircuitDbPath(db);
    lorvane::dbtools::proposeLoadedCircuit(add, w.session, *guitest::ui(w.form).Chart1);
    add.CircuitNameEdit->setText(QStringLiteral("With splits"));
    add.Button1Click();
    {
        const auto stored = lorvane::CircuitDb::open(db).findByName("With splits");
        QVERIFY(stored);
        QCOMPARE(stored->splits.size(), std::size_t{2});
    }

    // A fresh window finds the circuit for the log, splits and all.
    Window v;
    v.form.setCircuitDbPath(db);
    v.prompts.files << files.zlg;
    guitest::ui(v.form).LoadZLG->click();
    QVERIFY(v.ended.wait(60000));
    QCOMPARE(v.session.loaded()->startFinish.splits.size(), std::size_t{2});
    QCOMPARE(guitest::ui(v.form).Chart1->gateCurve()->dataCount(), 8);
    QCOMPARE(v.lines(), laps);
    QCOMPARE(v.prompts.unexpected, 0);
}

void TestMapLines::aFinishLineKeepsTheLapAndGoesWithItsRules() {
    SessionFiles files(guitest::sessionOptions(82, 8, false));
    Window w;
    QVERIFY(w.load(files.gxr, files.zlg));
    const QStringList before = w.lines();
    const std::size_t n = w.session.loaded()->track->samples.size();
    // Lap 3 selected (not the fastest): placing a line keeps it.
    QVERIFY(w.session.loaded()->bestLap != 3);
    guitest::ui(w.form).LapTimeBox->setCurrentRow(2);
    w.form.setPlaceMode(PlaceMode::Start);
    w.form.placeLineAt(w.sample(n / 4));
    QCOMPARE(guitest::ui(w.form).LapTimeBox->currentRow(), 2);
    QCOMPARE(guitest::ui(w.form).Chart2->reference()->lap, 3);
    w.form.setPlaceMode(PlaceMode::Start);
    w.form.placeLineAt(w.sample(w.session.loaded()->crossings.front().sample));

    // A finish line an eighth of a lap on splits the laps; the fix offered
    // for them goes when the line goes, and the laps are the file's again.
    w.form.setPlaceMode(PlaceMode::Finish);
    w.form.placeLineAt(w.sample(n * 5 / 40));
    QVERIFY(w.lines().size() > before.size());
    QVERIFY(guitest::ui(w.form).StatusLabel->text().contains(QStringLiteral("look split")));
    QVERIFY(!guitest::ui(w.form).SplitFixButton->isHidden());
    guitest::ui(w.form).SplitFixButton->click();
    QCOMPARE(w.lines().size(), before.size());
    w.form.applyGateRules(lorvane::GateRules{lorvane::GateDirection::Reverse, {}, 0});
    guitest::ui(w.form).actRemoveFinish->trigger();
    QCOMPARE(w.session.gateRules().direction, lorvane::GateDirection::Both);
    QCOMPARE(w.session.gateRules().minLap, 0.0);
    QCOMPARE(w.lines().size(), before.size());
    QCOMPARE(w.prompts.unexpected, 0);
}

void TestMapLines::onlyAFixWithBelievableLapsIsOffered() {
    auto laps = [](std::initializer_list<double> times) {
        std::vector<lorvane::Lap> v;
        for (double t : times) {
            lorvane::Lap lap;
            lap.number = static_cast<std::int32_t>(v.size()) + 1;
            lap.time = t;
            v.push_back(lap);
        }
        return v;
    };
    // Start to finish and finish to start: short and long laps in turn.
    const auto split = laps({12, 48, 11, 50, 12, 49, 11, 48});
    QVERIFY(lorvane::splitLaps(split));
    using lorvane::fixedLapsPlausible;
    // Fourteen laps of 13 to 24 s, none looking split among themselves:
    // pieces of a lap all the same.
    QVERIFY(!fixedLapsPlausible(split, laps({13, 20, 24, 15, 22, 18, 13, 24, 19, 21, 14, 23, 17, 20})));
    // Whole laps: believable; laps still split, or none: not.
    QVERIFY(fixedLapsPlausible(split, laps({60, 61, 60, 59})));
    QVERIFY(!fixedLapsPlausible(split, laps({10, 60, 9, 61, 10})));
    QVERIFY(!fixedLapsPlausible(split, {}));
}

void TestMapLines::closingAsksToSavePlacedLines() {
    SessionFiles files(guitest::sessionOptions(83, 3, false));
    Window w;
    QVERIFY(w.load(files.gxr, files.zlg));
    QSignalSpy closed(&w.form, &TForm1::closed);
    w.form.close(); // nothing placed: no question
    QCOMPARE(closed.size(), 1);
    QVERIFY(w.prompts.asked.size() == 2);
    w.form.show();

    const std::size_t n = w.session.loaded()->track->samples.size();
    w.form.setPlaceMode(PlaceMode::Split);
    w.form.placeLineAt(w.sample(n / 3));
    // Cancel: the window stays. Save, the dialog cancelled: it stays too.
    w.prompts.saveAnswers << lorvane::app::SaveAnswer::Cancel << lorvane::app::SaveAnswer::Save;
    w.prompts.files << std::nullopt;
    QVERIFY(!w.form.close());
    QVERIFY(!w.form.close());
    QCOMPARE(closed.size(), 1);
    QVERIFY(w.form.isVisible());
    QCOMPARE(w.prompts.kinds().mid(2),
             (QStringList{QStringLiteral("askToSave"), QStringLiteral("askToSave"), QStringLiteral("save")}));
    // Saved: closes, and the file cuts the same laps.
    w.prompts.saveAnswers << lorvane::app::SaveAnswer::Save;
    w.prompts.files << files.path(QStringLiteral("placed.gxr"));
    QVERIFY(w.form.close());
    QCOMPARE(closed.size(), 2);
    QVERIFY(QFileInfo::exists(files.path(QStringLiteral("placed.gxr"))));
    // Once saved, no question; placed again and discarded, closed.
    w.form.show();
    QVERIFY(w.form.close());
    w.form.show();
    w.form.setPlaceMode(PlaceMode::Split);
    w.form.placeLineAt(w.sample(n / 2));
    w.prompts.saveAnswers << lorvane::app::SaveAnswer::Discard;
    QVERIFY(w.form.close());
    QCOMPARE(closed.size(), 4);
    QCOMPARE(w.prompts.unexpected, 0);
}

QTEST_MAIN(TestMapLines)
#include "test_map_lines.moc"
