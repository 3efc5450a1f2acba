// The gate rules in the window: the laps of the loaded log are cut again at
// once when the rules change or another start/finish file is loaded, and the
// gates are drawn as lines across the track.
#include <QCheckBox>
#include <QComboBox>
#include <QDoubleSpinBox>
#include <QFileInfo>
#include <QPushButton>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest/QTest>

#include "gui/app/Unit1.h"
#include "gui/app/gate_rules_dialog.h"
#include "gui/display/track_plot.h"
#include "gui_support.h"

using guitest::ScriptedPrompts;
using guitest::SessionFiles;

namespace {

using Window = guitest::MainWindow;

// The lap list a fresh load of the same files with the same rules gives.
QStringList freshLinesOf(lorvane::LogKind kind, const QString& gxr, const QString& log,
                         const lorvane::GateRules& rules) {
    lorvane::Session s;
    s.loadStartFinish(guitest::toPath(gxr));
    s.setGateRules(rules);
    lorvane::SessionObserver quiet;
    s.loadLog(kind, guitest::toPath(log), quiet);
    QStringList l;
    for (const auto& lap : s.laps()) l << QString::fromStdString(lap.line);
    return l;
}

QStringList freshLines(const QString& gxr, const QString& log, const lorvane::GateRules& rules) {
    return freshLinesOf(lorvane::LogKind::Text, gxr, log, rules);
}

} // namespace

class TestGateRules : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() { qRegisterMetaType<lorvane::LoadReport>(); }
    void rulesRecutAtOnce();
    void startFinishAfterTheLogRecuts();
    void dialogGivesTheRules();
    void importedLogsLoadByDropAndMenu();
    void pausesEndRunsAndTheStatusSaysSo();
};

void TestGateRules::rulesRecutAtOnce() {
    SessionFiles files(guitest::sessionOptions(51, 4, false));
    Window w;
    QVERIFY(w.load(files.gxr, files.zlg));
    QCOMPARE(guitest::ui(w.form).LapTimeBox->count(), 4);
    // The start gate as a line, no arrow while both directions count.
    QCOMPARE(guitest::ui(w.form).Chart1->gateCurve()->dataCount(), 2);
    QCOMPARE(guitest::ui(w.form).Chart1->gateArrows(), 0);
    const bool forward = w.session.crossings().front().forward;

    const lorvane::GateRules wrongWay{forward ? lorvane::GateDirection::Reverse : lorvane::GateDirection::Forward, 15.0,
                                      0};
    w.form.applyGateRules(wrongWay);
    QCOMPARE(guitest::ui(w.form).LapTimeBox->count(), 0);
    QCOMPARE(guitest::ui(w.form).Chart1->gateArrows(), 1);
    QCOMPARE(w.lines(), freshLines(files.gxr, files.zlg, wrongWay));

    const lorvane::GateRules rightWay{forward ? lorvane::GateDirection::Forward : lorvane::GateDirection::Reverse, 15.0,
                                      0};
    w.form.applyGateRules(rightWay);
    QCOMPARE(guitest::ui(w.form).LapTimeBox->count(), 4);
    QCOMPARE(w.lines(), freshLines(files.gxr, files.zlg, rightWay));
    QCOMPARE(guitest::ui(w.form).LapTimeBox->currentRow(), w.session.bestLap() - 1);
    QVERIFY(guitest::ui(w.form).Chart1->highlightedPoints() > 0);
    QVERIFY(guitest::ui(w.form).SplitFixButton->isHidden());
    // Later loads use the rules too.
    QVERIFY(w.load(files.gxr, files.zlg));
    QCOMPARE(w.session.loaded()->rules, rightWay);
}

void TestGateRules::startFinishAfterTheLogRecuts() {
    SessionFiles a(guitest::sessionOptions(52, 3, false));
    lorvane::gen::Options o = guitest::sessionOptions(52, 3, true); // same circuit with a finish gate
    SessionFiles b(o);
    Window w;
    QVERIFY(w.load(a.gxr, a.zlg));
    const QStringList before = w.lines();
    // Another start/finish file, no log load: the laps follow its gates, and
    // the reference file copies its text.
    w.prompts.files << b.gxr;
    guitest::ui(w.form).LoadGXR->click();
    QCOMPARE(w.ended.size(), 1);
    QCOMPARE(w.lines(), freshLines(b.gxr, a.zlg, {}));
    QVERIFY(w.lines() != before);
    QCOMPARE(QByteArray::fromStdString(w.session.loaded()->startFinish.text), guitest::readAll(b.gxr));
    QCOMPARE(guitest::ui(w.form).Chart1->gateCurve()->dataCount(), 5); // two lines and the gap between them
}

void TestGateRules::dialogGivesTheRules() {
    lorvane::app::GateRulesDialog d(lorvane::GateRules{lorvane::GateDirection::Reverse, 12.5, 40});
    QCOMPARE(d.rules(), (lorvane::GateRules{lorvane::GateDirection::Reverse, 12.5, 40}));
    d.direction->setCurrentIndex(1);
    d.widthSet->setChecked(false);
    QVERIFY(!d.width->isEnabled());
    d.minLap->setValue(0);
    QCOMPARE(d.rules(), (lorvane::GateRules{lorvane::GateDirection::Forward, std::nullopt, 0}));
    // The longest pause in a run: 10 s unless changed; 0 is no limit.
    QCOMPARE(d.maxGap->value(), 10.0);
    d.maxGap->setValue(0);
    QCOMPARE(d.rules().maxGap, 0.0);
    lorvane::GateRules r;
    r.maxGap = 45;
    QCOMPARE(lorvane::app::GateRulesDialog(r).rules(), r);
}

// A real kart recording in NMEA, dropped on the window and through File >
// Load log: the same laps as the command line gives.
void TestGateRules::importedLogsLoadByDropAndMenu() {
    const QString gxr = QStringLiteral(LORVANE_TEST_DATA "/realdata/okc.gxr"),
                  nmea = QStringLiteral(LORVANE_REALDATA "/okc-kart-4laps/okc_kart_2023-06-04_4laps.nmea");
    if (!QFileInfo::exists(nmea)) QSKIP("the real kart recording is not here");
    const lorvane::GateRules forward{lorvane::GateDirection::Forward, 10.0, 0};
    Window w;
    w.form.applyGateRules(forward);
    w.form.openFiles({gxr, nmea});
    QVERIFY(w.ended.wait(60000));
    QCOMPARE(w.session.loaded()->kind, lorvane::LogKind::Nmea);
    QCOMPARE(w.lines(), freshLinesOf(lorvane::LogKind::Nmea, gxr, nmea, forward));
    QCOMPARE(guitest::ui(w.form).LapTimeBox->count(), 4);
    QVERIFY(guitest::ui(w.form).Chart1->track().size() > 3000);

    // The menu entry, and a file that is no log: a message naming it.
    QTemporaryDir dir;
    const QString junk = dir.filePath(QStringLiteral("junk.csv"));
    {
        QFile f(junk);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(QByteArray(3000, '\x01'));
    }
    w.prompts.clear();
    w.prompts.files << junk;
    guitest::ui(w.form).actLoadLog->trigger();
    QTRY_VERIFY_WITH_TIMEOUT(!w.form.loading(), 30000);
    QCOMPARE(w.prompts.kinds(), (QStringList{QStringLiteral("open"), QStringLiteral("error")}));
    QVERIFY2(w.prompts.asked[1].text.contains(QStringLiteral("junk.csv")), qPrintable(w.prompts.asked[1].text));
}

// Harry's LapTimer export of a day's runs: the laps inside the runs only, and
// the status line tells the runs and their pauses.
void TestGateRules::pausesEndRunsAndTheStatusSaysSo() {
    const QString data = QStringLiteral(LORVANE_REALDATA "/other-apps/harrys-laptimer-nmea-willow/");
    const QString gxr = data + QStringLiteral("willow.gxr"),
                  nmea = data + QStringLiteral("LapTimer-0382-0390-20160824-221730.nmea");
    if (!QFileInfo::exists(nmea)) QSKIP("real recording not found");
    Window w;
    w.form.openFiles({gxr, nmea});
    QVERIFY(w.ended.wait(60000));
    QCOMPARE(w.lines(), (QStringList{QStringLiteral("001 :   01:45.51"), QStringLiteral("002 :   01:37.67")}));
    QVERIFY2(guitest::ui(w.form).StatusLabel->text().contains(
                 QStringLiteral("5 runs: pauses of 57 min, 48 min, 21 s, 53 min")),
             qPrintable(guitest::ui(w.form).StatusLabel->text()));

    // Lines placed where the laps come out split (a start line on the back
    // straight, a finish line a short way on): counting reverse crossings
    // only would leave one lap of 4 s, and is not offered; what is offered
    // gives whole laps.
    const auto& samples = w.session.loaded()->track->samples;
    const std::size_t n = samples.size();
    for (auto [mode, at] :
         {std::pair{TForm1::PlaceMode::Start, n * 8 / 20}, std::pair{TForm1::PlaceMode::Finish, n * 13 / 40}}) {
        w.form.setPlaceMode(mode);
        w.form.placeLineAt({samples[at].east, samples[at].north});
    }
    QVERIFY(guitest::ui(w.form).StatusLabel->text().contains(QStringLiteral("look split")));
    QVERIFY(!guitest::ui(w.form).SplitFixButton->isHidden());
    QVERIFY2(!guitest::ui(w.form).SplitFixButton->text().contains(QStringLiteral("reverse")),
             qPrintable(guitest::ui(w.form).SplitFixButton->text()));
    guitest::ui(w.form).SplitFixButton->click();
    QVERIFY(!w.session.laps().empty());
    for (const lorvane::Lap& l : w.session.laps()) QVERIFY2(l.time > 45, l.line.c_str());
}

QTEST_MAIN(TestGateRules)
#include "test_gate_rules.moc"
