// The road of a reference file through the main window: start/finish file,
// log, lap choice, file name, "File created OK"; with its cancel and error
// paths, and a load that the user cannot start twice.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <thread>

#include <QCheckBox>
#include <QLabel>
#include <QProcess>
#include <QProgressBar>
#include <QPushButton>
#include <QSignalSpy>
#include <QtTest/QTest>

#include "gui/app/Unit1.h"
#include "gui/display/track_plot.h"
#include "gui_support.h"
#include "laps/lap_time_text.h"
#include "track/fit_rule.h"

using guitest::ScriptedPrompts;
using guitest::SessionFiles;

namespace {

const QString kOpen = QStringLiteral("open"), kSave = QStringLiteral("save"), kConfirm = QStringLiteral("confirm"),
              kInform = QStringLiteral("inform"), kError = QStringLiteral("error");

struct Window : guitest::MainWindow {
    lorvane::LoadReport lastReport() const {
        return ended.isEmpty() ? lorvane::LoadReport{} : ended.last().at(0).value<lorvane::LoadReport>();
    }

    void doubleClickRow(int row) {
        QListWidgetItem* item = guitest::ui(form).LapTimeBox->item(row);
        guitest::ui(form).LapTimeBox->scrollToItem(item);
        const QPoint at = guitest::ui(form).LapTimeBox->visualItemRect(item).center();
        QTest::mouseDClick(guitest::ui(form).LapTimeBox->viewport(), Qt::LeftButton, {}, at);
        // The lap is read off the window's thread: wait for its end.
        QTRY_VERIFY_WITH_TIMEOUT(!form.loading(), 30000);
    }
};

// What an independent session makes of the same files.
struct Expected {
    lorvane::Session session;
    lorvane::LoadReport report;
    Expected(const QString& gxr, const QString& log, lorvane::LogKind kind) {
        session.loadStartFinish(guitest::toPath(gxr));
        lorvane::SessionObserver quiet;
        report = session.loadLog(kind, guitest::toPath(log), quiet);
    }
    QStringList lines() const {
        QStringList l;
        for (const auto& lap : session.laps()) l << QString::fromStdString(lap.line);
        return l;
    }
    QByteArray reference(int lap, bool fixed) {
        const std::string bytes = lorvane::composeLapRefFile(*session.loaded(), session.pickLap(lap), fixed);
        return QByteArray::fromStdString(bytes);
    }
};

QStringList listLines(const TForm1& form) {
    QStringList l;
    for (int i = 0; i < guitest::ui(form).LapTimeBox->count(); ++i) l << guitest::ui(form).LapTimeBox->item(i)->text();
    return l;
}

QString lapPrompt(int lap, double seconds) {
    return QStringLiteral("Use lap %1 : %2 ?").arg(lap).arg(QString::fromStdString(lorvane::convertRealtoUTC(seconds)));
}

void checkLoaded(Window& w, const Expected& e, const QString& log) {
    const TForm1& f = w.form;
    QVERIFY(e.report.ok);
    QCOMPARE(w.lastReport().ok, true);
    QCOMPARE(guitest::ui(f).FileNameLabel->text(), log);
    QVERIFY(!guitest::ui(f).DoubleClickLabel->isHidden());
    QVERIFY(!guitest::ui(f).DoubleClickLabel2->isHidden());
    QVERIFY(guitest::ui(f).ProgressBar->isHidden());
    QVERIFY(guitest::ui(f).LoadGXR->isEnabled() && guitest::ui(f).LoadZLG->isEnabled() &&
            guitest::ui(f).loadwmx->isEnabled());
    QCOMPARE(listLines(f), e.lines());
    QCOMPARE(guitest::ui(f).LapTimeBox->currentRow(), e.session.bestLap() - 1);
    QVERIFY(guitest::ui(f).LapTimeBox->currentItem()->isSelected());

    // The whole track, fitted with equal spans.
    QCOMPARE(static_cast<std::int64_t>(guitest::ui(f).Chart1->track().size()), e.report.plotted);
    const auto lim = lorvane::track::fitTrack(e.report.extent);
    QVERIFY(lim);
    QCOMPARE(guitest::ui(f).Chart1->currentLimits().eastMin, lim->eastMin);
    QCOMPARE(guitest::ui(f).Chart1->currentLimits().northMax, lim->northMax);
    QVERIFY(guitest::ui(f).Chart1->axesFixed());

    // Status: samples, laps, fastest lap.
    const QString status = guitest::ui(f).StatusLabel->text();
    QVERIFY2(status.contains(QStringLiteral("%1 samples").arg(e.report.samples)), qPrintable(status));
    QVERIFY2(status.contains(QStringLiteral("%1 laps").arg(e.report.lapCount)), qPrintable(status));
    QVERIFY2(status.contains(QStringLiteral("fastest lap %1").arg(e.report.bestLap)), qPrintable(status));
}

// The start gate's point 1 and, when given, the finish gate's, in the plane
// of the load.
void checkMarkers(const Window& w, bool finish) {
    const lorvane::Session& s = w.session;
    const lorvane::LocalPoint start = s.plane().toLocal(s.gates().start.lat1, s.gates().start.long1);
    QCPCurve* s2 = guitest::ui(w.form).Chart1->series(2);
    QCPCurve* s3 = guitest::ui(w.form).Chart1->series(3);
    QCOMPARE(s2->dataCount(), 1);
    QCOMPARE(s2->data()->at(0)->key, start.east);
    QCOMPARE(s2->data()->at(0)->value, start.north);
    if (finish) {
        const lorvane::LocalPoint fin = s.plane().toLocal(s.gates().finish.lat1, s.gates().finish.long1);
        QCOMPARE(s3->dataCount(), 1);
        QCOMPARE(s3->data()->at(0)->key, fin.east);
        QCOMPARE(s3->data()->at(0)->value, fin.north);
    } else {
        QCOMPARE(s3->dataCount(), 0);
    }
    QCOMPARE(guitest::ui(w.form).Chart1->series(4)->dataCount(), 0);
    QCOMPARE(guitest::ui(w.form).Chart1->series(5)->dataCount(), 0);
}

} // namespace

class TestReferenceRoad : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() { qRegisterMetaType<lorvane::LoadReport>(); }
    void textLogRoad();
    void binaryLogRoad();
    void enterActsLikeADoubleClick();
    void selectedLapIsHighlighted();
    void answersThatWriteNothing();
    void cancelledLogDialogKeepsTheLoad();
    void logErrorsKeepWhatWasRead();
    void referenceErrors();
    void markersFollowTheCurrentLoad();
    void loadCannotBeStartedTwice();
    void closingDuringALoadStopsIt();
};

void TestReferenceRoad::textLogRoad() {
    SessionFiles files(guitest::sessionOptions(21, 5, false));
    Window w;
    QVERIFY(w.load(files.gxr, files.zlg, false));
    QCOMPARE(w.prompts.kinds(), (QStringList{kOpen, kOpen}));
    QCOMPARE(w.prompts.asked[0].title, QStringLiteral("Pick .gxr file containing start/finish line"));
    QCOMPARE(w.prompts.asked[1].title, QStringLiteral("Pick .zlg file "));
    Expected e(files.gxr, files.zlg, lorvane::LogKind::Text);
    checkLoaded(w, e, files.zlg);
    QCOMPARE(guitest::ui(w.form).LapTimeBox->count(), files.session.expectedLaps);
    checkMarkers(w, false);

    // Double-click the third lap, Yes, a file name.
    const QString target = files.path(QStringLiteral("LAP.REF"));
    w.prompts.clear();
    w.prompts.answers << true;
    w.prompts.files << target;
    w.doubleClickRow(2);
    QCOMPARE(w.prompts.kinds(), (QStringList{kConfirm, kSave, kInform}));
    QCOMPARE(w.prompts.asked[0].title, QStringLiteral("Warning"));
    QCOMPARE(w.prompts.asked[0].text, lapPrompt(3, e.session.laps()[2].time));
    QCOMPARE(w.prompts.asked[1].title, QStringLiteral("Enter filename for Reference file"));
    QCOMPARE(w.prompts.asked[1].text, QStringLiteral("LAP.REF"));
    QCOMPARE(w.prompts.asked[2].text, QStringLiteral("File created OK"));
    QCOMPARE(w.session.chosenLap(), 3);
    const QByteArray written = guitest::readAll(target);
    QCOMPARE(written, e.reference(3, false));
    QVERIFY(written.contains("FixedReference false\r\n"));

    // The command-line driver writes the same bytes.
    const QString cliOut = files.path(QStringLiteral("cli.REF"));
    QProcess cli;
    cli.start(QStringLiteral(LORVANE_CLI),
              {QStringLiteral("ref"), QStringLiteral("--gxr"), files.gxr, QStringLiteral("--zlg"), files.zlg,
               QStringLiteral("--lap"), QStringLiteral("3"), QStringLiteral("-o"), cliOut});
    QVERIFY(cli.waitForFinished(30000));
    QCOMPARE(cli.exitCode(), 0);
    QCOMPARE(guitest::readAll(cliOut), written);

    // Again with the check box ticked, over the same file (the dialog asked
    // before replacing it), with the same selection.
    guitest::ui(w.form).FixRefCheckBox->setChecked(true);
    w.prompts.clear();
    w.prompts.answers << true;
    w.prompts.files << target;
    w.doubleClickRow(2);
    QCOMPARE(w.prompts.kinds(), (QStringList{kConfirm, kSave, kInform}));
    QCOMPARE(guitest::readAll(target), e.reference(3, true));
    QVERIFY(guitest::readAll(target).contains("FixedReference true\r\n"));
}

void TestReferenceRoad::binaryLogRoad() {
    SessionFiles files(guitest::sessionOptions(22, 4, true));
    Window w;
    QVERIFY(w.load(files.gxr, files.wmx, true));
    QCOMPARE(w.prompts.asked[1].title, QStringLiteral("Pick .wmx file "));
    Expected e(files.gxr, files.wmx, lorvane::LogKind::Binary);
    checkLoaded(w, e, files.wmx);
    QVERIFY(w.session.logIsBinary());
    checkMarkers(w, true);
    // Plain seconds in the list.
    QVERIFY(listLines(w.form)[0].contains(QRegularExpression(QStringLiteral("^001 :   \\d{3,}\\.\\d\\d$"))));

    const int last = guitest::ui(w.form).LapTimeBox->count();
    const QString target = files.path(QStringLiteral("binary.ref"));
    w.prompts.clear();
    w.prompts.answers << true;
    w.prompts.files << target;
    w.doubleClickRow(last - 1);
    QCOMPARE(w.prompts.kinds(), (QStringList{kConfirm, kSave, kInform}));
    // The prompt shows minutes and seconds although the list shows seconds.
    QCOMPARE(w.prompts.asked[0].text, lapPrompt(last, e.session.laps()[static_cast<std::size_t>(last - 1)].time));
    QCOMPARE(guitest::readAll(target), e.reference(last, false));
}

void TestReferenceRoad::enterActsLikeADoubleClick() {
    SessionFiles files(guitest::sessionOptions(23, 3, false));
    Window w;
    QVERIFY(w.load(files.gxr, files.zlg, false));
    guitest::ui(w.form).LapTimeBox->setFocus();
    guitest::ui(w.form).LapTimeBox->setCurrentRow(0);
    w.prompts.clear();
    w.prompts.answers << true;
    w.prompts.files << files.path(QStringLiteral("enter.ref"));
    QTest::keyClick(guitest::ui(w.form).LapTimeBox, Qt::Key_Return);
    QTRY_VERIFY_WITH_TIMEOUT(!w.form.loading(), 30000);
    QCOMPARE(w.prompts.kinds(), (QStringList{kConfirm, kSave, kInform}));
    QVERIFY(w.prompts.asked[0].text.startsWith(QStringLiteral("Use lap 1 : ")));

    // Nothing selected: a double-click names no lap and does nothing.
    w.prompts.clear();
    guitest::ui(w.form).LapTimeBox->clearSelection();
    emit guitest::ui(w.form).LapTimeBox->DblClick();
    QVERIFY(w.prompts.asked.isEmpty());
}

void TestReferenceRoad::selectedLapIsHighlighted() {
    SessionFiles files(guitest::sessionOptions(24, 4, false));
    Window w;
    QVERIFY(w.load(files.gxr, files.zlg, false));
    auto expectedPoints = [&](int row) {
        const lorvane::Lap& lap = w.session.laps()[static_cast<std::size_t>(row)];
        std::size_t n = 0;
        const auto* plot = guitest::ui(w.form).Chart1;
        for (std::size_t i = 0; i < plot->track().size(); ++i) {
            const std::int32_t s = plot->trackSample(i);
            n += s >= lap.startSample && s <= lap.endSample;
        }
        return n;
    };
    // The fastest lap is highlighted at the end of the load.
    const int best = w.session.bestLap() - 1;
    QCOMPARE(guitest::ui(w.form).Chart1->highlightedPoints(), expectedPoints(best));
    QVERIFY(expectedPoints(best) > 100);
    // Moving through the list with the keys moves the highlight.
    guitest::ui(w.form).LapTimeBox->setFocus();
    guitest::ui(w.form).LapTimeBox->setCurrentRow(0);
    QTest::keyClick(guitest::ui(w.form).LapTimeBox, Qt::Key_Down);
    QCOMPARE(guitest::ui(w.form).LapTimeBox->currentRow(), 1);
    QCOMPARE(guitest::ui(w.form).Chart1->highlightedPoints(), expectedPoints(1));
    QVERIFY(expectedPoints(1) != expectedPoints(0) ||
            w.session.laps()[1].startSample != w.session.laps()[0].startSample);
}

void TestReferenceRoad::answersThatWriteNothing() {
    SessionFiles files(guitest::sessionOptions(25, 3, false));
    Window w;
    QVERIFY(w.load(files.gxr, files.zlg, false));
    const QString target = files.path(QStringLiteral("LAP.REF"));

    // No: nothing written, no further question, the chosen lap unchanged.
    w.prompts.clear();
    w.prompts.answers << false;
    w.doubleClickRow(1);
    QCOMPARE(w.prompts.kinds(), QStringList{kConfirm});
    QCOMPARE(w.session.chosenLap(), 0);

    // Yes, then the save dialog cancelled: no file, no message.
    w.prompts.clear();
    w.prompts.answers << true;
    w.prompts.files << std::nullopt;
    w.doubleClickRow(1);
    QCOMPARE(w.prompts.kinds(), (QStringList{kConfirm, kSave}));
    QVERIFY(!QFile::exists(target));
    QCOMPARE(w.prompts.unexpected, 0);
}

void TestReferenceRoad::cancelledLogDialogKeepsTheLoad() {
    SessionFiles files(guitest::sessionOptions(26, 3, true));
    Window w;
    QVERIFY(w.load(files.gxr, files.zlg, false));
    const QStringList lines = listLines(w.form);
    const std::size_t points = guitest::ui(w.form).Chart1->track().size();
    const auto limits = guitest::ui(w.form).Chart1->currentLimits();

    w.prompts.clear();
    w.prompts.files << std::nullopt << std::nullopt;
    guitest::ui(w.form).loadwmx->click();
    guitest::ui(w.form).LoadZLG->click();
    QCOMPARE(w.prompts.kinds(), (QStringList{kOpen, kOpen}));
    QCOMPARE(w.ended.size(), 1);
    QCOMPARE(listLines(w.form), lines);
    QCOMPARE(guitest::ui(w.form).Chart1->track().size(), points);
    QCOMPARE(guitest::ui(w.form).Chart1->currentLimits().eastMin, limits.eastMin);
    QCOMPARE(guitest::ui(w.form).FileNameLabel->text(), files.zlg);
    checkMarkers(w, true);

    // The laps listed can still be written.
    w.prompts.clear();
    w.prompts.answers << true;
    w.prompts.files << files.path(QStringLiteral("after-cancel.ref"));
    w.doubleClickRow(0);
    QCOMPARE(w.prompts.kinds(), (QStringList{kConfirm, kSave, kInform}));
}

void TestReferenceRoad::logErrorsKeepWhatWasRead() {
    SessionFiles files(guitest::sessionOptions(27, 6, false));
    Window w;

    // A log that is not there: the error, the path shown, nothing else.
    const QString missing = files.path(QStringLiteral("missing.zlg"));
    QVERIFY(w.load(files.gxr, missing, false));
    QCOMPARE(w.prompts.kinds(), (QStringList{kOpen, kOpen, kError}));
    QVERIFY(w.prompts.asked[2].text.startsWith(QStringLiteral("File not found\n")));
    QVERIFY(w.prompts.asked[2].text.contains(missing));
    QCOMPARE(guitest::ui(w.form).FileNameLabel->text(), missing);
    QVERIFY(guitest::ui(w.form).DoubleClickLabel->isHidden());
    QVERIFY(guitest::ui(w.form).LoadZLG->isEnabled() && guitest::ui(w.form).LoadGXR->isEnabled());

    // A bad number two thirds of the way in: the error names the value and
    // the line; the laps listed before it stay, the closing steps do not run.
    std::string zlg = files.session.zlg;
    std::size_t at = zlg.size() * 2 / 3;
    at = zlg.find('\n', at) + 1;
    const std::size_t lineEnd = zlg.find('\n', at);
    zlg.replace(at, lineEnd - at, "x1 x2 x3 x4 x5 x6 x7 x8 x9 x10 x11 x12");
    const std::int64_t badLine = std::count(zlg.begin(), zlg.begin() + static_cast<std::ptrdiff_t>(at), '\n') + 1;
    const QString bad = files.write(QStringLiteral("bad.zlg"), zlg);
    w.prompts.clear();
    w.prompts.files << bad;
    guitest::ui(w.form).LoadZLG->click();
    QVERIFY(w.ended.wait(60000));
    QCOMPARE(w.prompts.kinds(), (QStringList{kOpen, kError}));
    const QStringList message = w.prompts.asked[1].text.split(u'\n');
    QVERIFY2(message[0].contains(QStringLiteral("' is not a valid ")), qPrintable(message[0]));
    QVERIFY2(message.value(1).contains(QStringLiteral("line %1").arg(badLine)), qPrintable(w.prompts.asked[1].text));
    QVERIFY(guitest::ui(w.form).LapTimeBox->count() > 0);
    QVERIFY(guitest::ui(w.form).LapTimeBox->count() < files.session.expectedLaps);
    QVERIFY(guitest::ui(w.form).DoubleClickLabel->isHidden());
    QVERIFY(!guitest::ui(w.form).Chart1->track().empty());
    QVERIFY(!guitest::ui(w.form).Chart1->axesFixed());
    QVERIFY(guitest::ui(w.form).StatusLabel->text().contains(QStringLiteral("stopped")));
    QVERIFY(guitest::ui(w.form).LoadZLG->isEnabled());
}

void TestReferenceRoad::referenceErrors() {
    SessionFiles files(guitest::sessionOptions(28, 3, false));
    Window w;
    QVERIFY(w.load(files.gxr, files.zlg, false));

    // The target cannot be written: the error, no "File created OK".
    const QString nowhere = files.path(QStringLiteral("no/such/folder/LAP.REF"));
    w.prompts.clear();
    w.prompts.answers << true;
    w.prompts.files << nowhere;
    w.doubleClickRow(0);
    QCOMPARE(w.prompts.kinds(), (QStringList{kConfirm, kSave, kError}));
    QVERIFY(w.prompts.asked[2].text.contains(QStringLiteral("no/such/folder")));
    QVERIFY(!QFile::exists(nowhere));

    // The log is gone when the lap is read again: the error, no save dialog.
    QVERIFY(QFile::remove(files.zlg));
    w.prompts.clear();
    w.prompts.answers << true;
    w.doubleClickRow(0);
    QCOMPARE(w.prompts.kinds(), (QStringList{kConfirm, kError}));
    QVERIFY(w.prompts.asked[1].text.startsWith(QStringLiteral("File not found")));
    QCOMPARE(w.prompts.unexpected, 0);
}

void TestReferenceRoad::markersFollowTheCurrentLoad() {
    SessionFiles files(guitest::sessionOptions(29, 3, true));
    Window w;
    QVERIFY(w.load(files.gxr, files.zlg, false));
    checkMarkers(w, true);
    QVERIFY(w.load(files.gxr, files.wmx, true));
    checkMarkers(w, true); // replaced, not stacked

    // The same start line without a finish gate: no finish marker left behind.
    const auto& g = files.session.startGate;
    const QString noFinish = files.write(QStringLiteral("start-only.gxr"),
                                         "[Start finish]\n" + std::to_string(g.long1) + ' ' + std::to_string(g.lat1) +
                                             ' ' + std::to_string(g.long2) + ' ' + std::to_string(g.lat2) +
                                             "\n[Finish]\n0 0 0 0\n");
    QVERIFY(w.load(noFinish, files.zlg, false));
    checkMarkers(w, false);

    // A log that never finds a base point: no markers, the axes as they were.
    const auto limits = guitest::ui(w.form).Chart1->currentLimits();
    std::string noFix = "[header]\nSatellites\nTime\nLatitude\nLongitude\n[channel units]\n[data]\n";
    for (int i = 0; i < 50; ++i) noFix += "02 101010." + std::to_string(10 + i) + " 3090.12345 60.54321\n";
    const QString noFixLog = files.write(QStringLiteral("nofix.zlg"), noFix);
    QVERIFY(w.load(noFinish, noFixLog, false));
    QVERIFY(w.lastReport().ok);
    QVERIFY(!w.lastReport().hasBase);
    QCOMPARE(guitest::ui(w.form).Chart1->series(2)->dataCount(), 0);
    QCOMPARE(guitest::ui(w.form).Chart1->series(3)->dataCount(), 0);
    QVERIFY(guitest::ui(w.form).Chart1->track().empty());
    QCOMPARE(guitest::ui(w.form).Chart1->currentLimits().eastMin, limits.eastMin);
    QCOMPARE(guitest::ui(w.form).Chart1->currentLimits().northMax, limits.northMax);
    QCOMPARE(guitest::ui(w.form).LapTimeBox->count(), 0);
    QVERIFY(guitest::ui(w.form).StatusLabel->text().contains(QStringLiteral("no base point")));
}

void TestReferenceRoad::loadCannotBeStartedTwice() {
    SessionFiles files(guitest::sessionOptions(30, 6, false));
    const QString fifo = files.path(QStringLiteral("slow.zlg"));
    QCOMPARE(::mkfifo(guitest::toPath(fifo).c_str(), 0600), 0);
    Window w;
    QSignalSpy batches(&w.form, &TForm1::loadEnded);

    w.prompts.files << files.gxr << fifo;
    guitest::ui(w.form).LoadGXR->click();
    guitest::ui(w.form).LoadZLG->click();
    QVERIFY(w.form.loading());
    QVERIFY(!guitest::ui(w.form).LoadGXR->isEnabled() && !guitest::ui(w.form).LoadZLG->isEnabled() &&
            !guitest::ui(w.form).loadwmx->isEnabled());
    QVERIFY(!guitest::ui(w.form).actLoadGXR->isEnabled() && !guitest::ui(w.form).actLoadZLG->isEnabled());
    QVERIFY(guitest::ui(w.form).ProgressBar->isVisible());

    // Feed the first half; laps appear while the load still runs.
    const int fd = ::open(guitest::toPath(fifo).c_str(), O_WRONLY);
    QVERIFY(fd >= 0);
    const std::string& zlg = files.session.zlg;
    const std::size_t half = zlg.size() / 2;
    QCOMPARE(::write(fd, zlg.data(), half), static_cast<ssize_t>(half));
    QTRY_VERIFY_WITH_TIMEOUT(guitest::ui(w.form).LapTimeBox->count() >= 2, 20000);
    QVERIFY(w.form.loading());
    QVERIFY(!guitest::ui(w.form).Chart1->track().empty());

    // Every way to start something else is refused while it runs.
    w.prompts.clear();
    w.form.LoadGXRClick();
    w.form.LoadZLGClick();
    w.form.loadwmxClick();
    w.form.openFiles({files.wmx});
    guitest::ui(w.form).LapTimeBox->setCurrentRow(0);
    emit guitest::ui(w.form).LapTimeBox->DblClick();
    QVERIFY(w.prompts.asked.isEmpty());
    QVERIFY(w.form.loading());
    QCOMPARE(w.ended.size(), 0);

    // The rest of the file: the load ends with every lap, as from a file.
    QCOMPARE(::write(fd, zlg.data() + half, zlg.size() - half), static_cast<ssize_t>(zlg.size() - half));
    ::close(fd);
    QVERIFY(w.ended.wait(60000));
    Expected e(files.gxr, files.zlg, lorvane::LogKind::Text);
    QCOMPARE(listLines(w.form), e.lines());
    QVERIFY(guitest::ui(w.form).LoadGXR->isEnabled() && guitest::ui(w.form).LoadZLG->isEnabled());
    QVERIFY(guitest::ui(w.form).ProgressBar->isHidden());
}

void TestReferenceRoad::closingDuringALoadStopsIt() {
    SessionFiles files(guitest::sessionOptions(32, 3, false));
    const QString fifo = files.path(QStringLiteral("held.zlg"));
    QCOMPARE(::mkfifo(guitest::toPath(fifo).c_str(), 0600), 0);
    auto* w = new Window;
    QSignalSpy closed(&w->form, &TForm1::closed);
    w->prompts.files << files.gxr << fifo;
    guitest::ui(w->form).LoadGXR->click();
    guitest::ui(w->form).LoadZLG->click();
    const int fd = ::open(guitest::toPath(fifo).c_str(), O_WRONLY);
    QVERIFY(fd >= 0);
    const std::string& zlg = files.session.zlg;
    QVERIFY(::write(fd, zlg.data(), zlg.size() * 2 / 3) > 0);
    QTRY_VERIFY_WITH_TIMEOUT(guitest::ui(w->form).LapTimeBox->count() >= 1, 20000);

    // The reader is waiting for more; it sees the end of the pipe a little
    // after the window has asked it to stop.
    std::thread writer([fd] {
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        ::close(fd);
    });
    w->form.close();
    writer.join();
    QCOMPARE(closed.size(), 1);
    QVERIFY(!w->form.loading());
    QVERIFY(!w->session.busy());
    QTest::qWait(100);
    QCOMPARE(w->ended.size(), 0); // no report, no error box for a load the user left
    QVERIFY(w->prompts.kinds() == (QStringList{kOpen, kOpen}));
    delete w;
}

QTEST_MAIN(TestReferenceRoad)
#include "test_reference_road.moc"
