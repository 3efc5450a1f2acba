// The main window before any log: layout, initial states, menus, the one-time
// reset, the start/finish file and dropped files.
#include <QAction>
#include <QCheckBox>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QMimeData>
#include <QProgressBar>
#include <QPushButton>
#include <QSignalSpy>
#include <QStatusBar>
#include <QUrl>
#include <QtTest/QTest>

#include <qcustomplot.h>

#include "formats/log_formats.h"
#include "gui/app/Unit1.h"
#include "gui/common/prompts.h"
#include "gui/dbtools/uAddCountryForm.h"
#include "gui/dbtools/uAddToDataBase.h"
#include "gui/display/lap_chart.h"
#include "gui/display/track_plot.h"
#include "gui_support.h"

using guitest::ScriptedPrompts;

namespace {

// The windows as the program starts them.
struct Program {
    lorvane::Session session;
    ScriptedPrompts prompts;
    TForm1 form{session, prompts};
    TAddToDatabaseForm addToDatabase;
    TAddCountryForm addCountry{prompts};
    Program() { form.setSideWindows(&addToDatabase, &addCountry); }
};

QColor textColour(const QWidget* w) {
    return w->palette().color(QPalette::WindowText);
}

void drop(TForm1& form, const QStringList& paths, bool* accepted = nullptr) {
    auto* mime = new QMimeData;
    QList<QUrl> urls;
    for (const QString& p : paths) urls << QUrl::fromLocalFile(p);
    mime->setUrls(urls);
    const QPoint at(400, 300);
    QDragEnterEvent enter(at, Qt::CopyAction, mime, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(&form, &enter);
    if (accepted) *accepted = enter.isAccepted();
    if (enter.isAccepted()) {
        QDropEvent dropEvent(at, Qt::CopyAction, mime, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(&form, &dropEvent);
    }
    delete mime;
}

} // namespace

class TestMainWindow : public QObject {
    Q_OBJECT
private slots:
    void controlsAsDesigned();
    void plotSeriesAsDesigned();
    void windowGrowsAroundTheClientArea();
    void menusOpenTheSideWindows();
    void firstActivationResetsOnce();
    void startFinishDialogAndCancel();
    void loadLogDialogFiltersByPatterns();
    void startFinishErrorsKeepLogsDisabled();
    void startFinishNameTest();
    void droppedFilesLoadLikeTheirButtons();
    void aLogOfTheWrongKindKeepsTheLoadedSession();
    void aLoadWithoutLapsSaysWhy();
};

void TestMainWindow::controlsAsDesigned() {
    Program p;
    TForm1& f = p.form;
    QCOMPARE(f.objectName(), QStringLiteral("Form1"));
    QCOMPARE(f.windowTitle(), QStringLiteral("Lorvane"));
    QCOMPARE(f.font().pointSize(), 8);
    QVERIFY(!p.addToDatabase.isVisible());
    QVERIFY(!p.addCountry.isVisible());

    struct Expect {
        QWidget* w;
        const char* name;
        QRect geometry; // width/height 0: sized to the text
    };
    const Expect expected[] = {
        {guitest::ui(f).LoadGXR, "LoadGXR", {8, 16, 113, 33}},
        {guitest::ui(f).Chart1, "Chart1", {144, 16, 609, 577}},
        {guitest::ui(f).FileNameLabel, "FileNameLabel", {19, 632, 0, 0}},
        {guitest::ui(f).CircuitNumberLabel, "CircuitNumberLabel", {16, 56, 0, 0}},
        {guitest::ui(f).Label10, "Label10", {728, 600, 0, 0}},
        {guitest::ui(f).Label11, "Label11", {19, 608, 0, 0}},
        {guitest::ui(f).DoubleClickLabel, "DoubleClickLabel", {8, 144, 0, 0}},
        {guitest::ui(f).LapTimeBox, "LapTimeBox", {8, 184, 113, 409}},
        {guitest::ui(f).LoadZLG, "LoadZLG", {8, 56, 113, 25}},
        {guitest::ui(f).loadwmx, "loadwmx", {8, 88, 113, 25}},
        {guitest::ui(f).DoubleClickLabel2, "DoubleClickLabel2", {8, 160, 0, 0}},
        {guitest::ui(f).Chart2, "Chart2", {144, TForm1::kClientHeight, 609, TForm1::kStripHeight}},
    };
    for (const Expect& e : expected) {
        QCOMPARE(e.w->objectName(), QString::fromLatin1(e.name));
        QCOMPARE(e.w->pos(), e.geometry.topLeft());
        if (e.geometry.width() > 0) QCOMPARE(e.w->size(), e.geometry.size());
        QCOMPARE(f.findChild<QWidget*>(QString::fromLatin1(e.name)), e.w);
    }
    QCOMPARE(guitest::ui(f).FixRefCheckBox->pos(), QPoint(8, 120));
    QVERIFY(guitest::ui(f).FixRefCheckBox->width() >= 113 &&
            guitest::ui(f).FixRefCheckBox->x() + guitest::ui(f).FixRefCheckBox->width() <= 144);

    QCOMPARE(guitest::ui(f).LoadGXR->text(), QStringLiteral("Load GXR file"));
    QCOMPARE(guitest::ui(f).LoadZLG->text(), QStringLiteral("Load ZLG file"));
    QCOMPARE(guitest::ui(f).loadwmx->text(), QStringLiteral("Load wmx file"));
    QCOMPARE(guitest::ui(f).FixRefCheckBox->text(), QStringLiteral("Fix Reference Lap"));
    QCOMPARE(guitest::ui(f).Label10->text(), QStringLiteral("V1.5"));
    QCOMPARE(guitest::ui(f).DoubleClickLabel->text(), QStringLiteral("Double click lap to use:"));
    QCOMPARE(guitest::ui(f).DoubleClickLabel2->text(), QStringLiteral("(Fastest is highlighted)"));
    QVERIFY(guitest::ui(f).FileNameLabel->text().isEmpty());
    QVERIFY(guitest::ui(f).CircuitNumberLabel->text().isEmpty());
    QVERIFY(guitest::ui(f).Label11->text().isEmpty());
    QCOMPARE(guitest::ui(f).LapTimeBox->count(), 0);

    // Initial states.
    QVERIFY(guitest::ui(f).LoadGXR->isEnabled());
    QVERIFY(!guitest::ui(f).LoadZLG->isEnabled());
    QVERIFY(!guitest::ui(f).loadwmx->isEnabled());
    QVERIFY(!guitest::ui(f).FixRefCheckBox->isChecked());
    QVERIFY(guitest::ui(f).DoubleClickLabel->isHidden());
    QVERIFY(guitest::ui(f).DoubleClickLabel2->isHidden());
    QVERIFY(!guitest::ui(f).Chart2->isHidden()); // the strip chart, empty until a lap is chosen
    QCOMPARE(guitest::ui(f).Chart2->referenceSpeed()->dataCount(), 0);
    QVERIFY(guitest::ui(f).ProgressBar->isHidden());

    // Fonts and colours.
    QCOMPARE(guitest::ui(f).FileNameLabel->font().pointSize(), 10);
    QCOMPARE(textColour(guitest::ui(f).FileNameLabel), QColor(0, 0x80, 0));
    QCOMPARE(guitest::ui(f).Label11->font().pointSize(), 12);
    QVERIFY(guitest::ui(f).Label11->font().bold());
    QCOMPARE(textColour(guitest::ui(f).Label11), QColor(0xFF, 0, 0));

    // Tab order: LoadGXR, LapTimeBox, LoadZLG, loadwmx, FixRefCheckBox.
    QCOMPARE(guitest::nextTabStop(guitest::ui(f).LoadGXR), guitest::ui(f).LapTimeBox);
    QCOMPARE(guitest::nextTabStop(guitest::ui(f).LapTimeBox), guitest::ui(f).LoadZLG);
    QCOMPARE(guitest::nextTabStop(guitest::ui(f).LoadZLG), guitest::ui(f).loadwmx);
    QCOMPARE(guitest::nextTabStop(guitest::ui(f).loadwmx), guitest::ui(f).FixRefCheckBox);
}

void TestMainWindow::plotSeriesAsDesigned() {
    Program p;
    lorvane::display::TrackPlot* chart = guitest::ui(p.form).Chart1;
    QVERIFY(!chart->legend->visible());
    QCOMPARE(chart->toPixmap(100, 100).toImage().pixelColor(2, 2), QColor(Qt::white));
    const struct {
        int n;
        const char* name;
        QColor colour;
        bool circles;
    } series[] = {{1, "Series1", QColor(0xFF, 0, 0), false},
                  {2, "Series2", QColor(0, 0x80, 0), true},
                  {3, "Series3", QColor(0xFF, 0, 0), true},
                  {4, "Series4", QColor(0x80, 0, 0x80), true},
                  {5, "Series5", QColor(0xFF, 0, 0xFF), true}};
    for (const auto& s : series) {
        QCPCurve* c = chart->series(s.n);
        QCOMPARE(c->name(), QString::fromLatin1(s.name));
        QCOMPARE(c->pen().color(), s.colour);
        QCOMPARE(c->scatterStyle().shape(), s.circles ? QCPScatterStyle::ssCircle : QCPScatterStyle::ssNone);
        QCOMPARE(c->dataCount(), 0);
    }
    // The rubber band is blue; the strip chart's speed series are the laps' colours.
    QCOMPARE(chart->selectionRectMode(), QCP::srmZoom);
    QCOMPARE(chart->selectionRect()->pen().color(), QColor(Qt::blue));
    QCOMPARE(guitest::ui(p.form).Chart2->graphCount(), 3);
    QCOMPARE(guitest::ui(p.form).Chart2->graph(0)->name(), QStringLiteral("Series6"));
    QCOMPARE(guitest::ui(p.form).Chart2->graph(0)->pen().color(), lorvane::display::referenceLapColour());
    QCOMPARE(guitest::ui(p.form).Chart2->comparedSpeed()->pen().color(), lorvane::display::comparedLapColour());
    QCOMPARE(guitest::ui(p.form).Chart2->delta()->valueAxis(), guitest::ui(p.form).Chart2->yAxis2);
}

void TestMainWindow::windowGrowsAroundTheClientArea() {
    Program p;
    TForm1& f = p.form;
    f.show();
    QVERIFY(QTest::qWaitForWindowExposed(&f));
    QWidget* client = f.centralWidget();
    QCOMPARE(client->size(), QSize(TForm1::kClientWidth, TForm1::kOpenClientHeight));
    QCOMPARE(f.height(), TForm1::kOpenClientHeight + f.menuBar()->height() + f.statusBar()->height());
    // The client area starts below the menu bar: controls keep their places in it.
    QCOMPARE(guitest::ui(f).LoadGXR->mapTo(&f, QPoint(0, 0)), QPoint(8, 16 + f.menuBar()->height()));

    // Growing the window grows the chart; what is below it moves down with
    // the bottom edge, the left column stays.
    f.resize(f.width() + 200, f.height() + 100);
    QTRY_COMPARE(client->size(), QSize(TForm1::kClientWidth + 200, TForm1::kOpenClientHeight + 100));
    QCOMPARE(guitest::ui(f).Chart1->geometry(), QRect(144, 16, 609 + 200, 577 + 100));
    QCOMPARE(guitest::ui(f).Label10->pos(), QPoint(728 + 200, 600 + 100));
    QCOMPARE(guitest::ui(f).FileNameLabel->pos(), QPoint(19, 632 + 100));
    // The lap list grows with the window; the strip chart stays under the plot.
    QCOMPARE(guitest::ui(f).LapTimeBox->geometry(), QRect(8, 184, 113, 409 + 100));
    QCOMPARE(guitest::ui(f).Chart2->geometry(),
             QRect(144, TForm1::kClientHeight + 100, 609 + 200, TForm1::kStripHeight));
    QCOMPARE(guitest::ui(f).LoadGXR->pos(), QPoint(8, 16));

    // It shrinks to a size that fits a 1000-pixel-high screen at 150 % (666
    // device-independent pixels, less a title bar and a task bar), and no further.
    f.resize(300, 200);
    QTRY_COMPARE(client->size(), QSize(TForm1::kMinClientWidth, TForm1::kMinClientHeight));
    QVERIFY(f.height() <= 560);
    QVERIFY(guitest::ui(f).Chart1->height() > 100 && guitest::ui(f).Chart2->height() >= 80);
    QVERIFY(guitest::ui(f).Chart1->geometry().bottom() < guitest::ui(f).Chart2->geometry().top());
}

void TestMainWindow::menusOpenTheSideWindows() {
    Program p;
    TForm1& f = p.form;
    const QList<QAction*> menus = f.menuBar()->actions();
    QCOMPARE(menus.size(), 4);
    QCOMPARE(menus[0]->text(), QStringLiteral("&File"));
    QCOMPARE(menus[1]->text(), QStringLiteral("&Laps"));
    QCOMPARE(menus[2]->text(), QStringLiteral("&Tools"));
    QCOMPARE(menus[3]->text(), QStringLiteral("&Help"));
    QVERIFY(guitest::ui(f).actLoadGXR->isEnabled());
    QVERIFY(!guitest::ui(f).actLoadZLG->isEnabled());
    QVERIFY(!guitest::ui(f).actLoadWmx->isEnabled());

    guitest::ui(f).actNewCountry->trigger();
    QVERIFY(p.addCountry.isVisible());
    QCOMPARE(p.addCountry.windowTitle(), QStringLiteral("Create new country "));
    guitest::ui(f).actAddToDatabase->trigger();
    QVERIFY(p.addToDatabase.isVisible());
    p.addToDatabase.Button1->click();
    QVERIFY(!p.addToDatabase.isVisible());
    QVERIFY(p.addToDatabase.addConfirmed);

    guitest::ui(f).actAbout->trigger();
    QCOMPARE(p.prompts.kinds(), QStringList{QStringLiteral("inform")});
    QVERIFY(p.prompts.asked[0].text.contains(QStringLiteral("V1.5")));

    // File > Load GXR file runs the button's handler.
    p.prompts.clear();
    p.prompts.files << std::nullopt;
    guitest::ui(f).actLoadGXR->trigger();
    QCOMPARE(p.prompts.asked[0].title, QStringLiteral("Pick .gxr file containing start/finish line"));
    QVERIFY(guitest::ui(f).actLoadZLG->isEnabled());
    QVERIFY(guitest::ui(f).actLoadWmx->isEnabled());
}

void TestMainWindow::firstActivationResetsOnce() {
    Program p;
    p.addToDatabase.addConfirmed = true;
    QEvent activate(QEvent::WindowActivate);
    QApplication::sendEvent(&p.form, &activate);
    QVERIFY(!p.addToDatabase.addConfirmed); // the one-time reset

    p.addToDatabase.Button1->click(); // OK
    QVERIFY(p.addToDatabase.addConfirmed);
    QApplication::sendEvent(&p.form, &activate); // switching back to the main window
    QVERIFY(p.addToDatabase.addConfirmed);
}

void TestMainWindow::startFinishDialogAndCancel() {
    Program p;
    p.prompts.files << std::nullopt;
    guitest::ui(p.form).LoadGXR->click();
    QCOMPARE(p.prompts.kinds(), QStringList{QStringLiteral("open")});
    QCOMPARE(p.prompts.asked[0].title, QStringLiteral("Pick .gxr file containing start/finish line"));
    QCOMPARE(p.prompts.asked[0].text, QStringLiteral("*.gxr"));
    // A cancelled dialog still offers the logs.
    QVERIFY(guitest::ui(p.form).LoadZLG->isEnabled());
    QVERIFY(guitest::ui(p.form).loadwmx->isEnabled());
    QVERIFY(!p.session.hasStartFinish());

    // The log dialogs' titles and initial names.
    p.prompts.clear();
    p.prompts.files << std::nullopt << std::nullopt;
    guitest::ui(p.form).LoadZLG->click();
    guitest::ui(p.form).loadwmx->click();
    QCOMPARE(p.prompts.kinds(), (QStringList{QStringLiteral("open"), QStringLiteral("open")}));
    QCOMPARE(p.prompts.asked[0].title, QStringLiteral("Pick .zlg file "));
    QCOMPARE(p.prompts.asked[0].text, QStringLiteral("*.zlg;"));
    QCOMPARE(p.prompts.asked[1].title, QStringLiteral("Pick .wmx file "));
    QCOMPARE(p.prompts.asked[1].text, QStringLiteral("*.wmx;"));
    // A cancelled log dialog ends like a load: the hints show, nothing else.
    QVERIFY(!guitest::ui(p.form).DoubleClickLabel->isHidden());
    QVERIFY(!guitest::ui(p.form).DoubleClickLabel2->isHidden());
    QVERIFY(guitest::ui(p.form).Chart1->axesFixed());
    QCOMPARE(guitest::ui(p.form).LapTimeBox->count(), 0);
    QVERIFY(guitest::ui(p.form).FileNameLabel->text().isEmpty());
}

void TestMainWindow::loadLogDialogFiltersByPatterns() {
    Program p;
    p.prompts.files << std::nullopt;
    guitest::ui(p.form).LoadGXR->click();
    p.prompts.clear();
    p.prompts.files << std::nullopt;
    guitest::ui(p.form).actLoadLog->trigger();
    const QString patterns = QString::fromStdString(lorvane::logFilePatterns());
    QCOMPARE(p.prompts.asked.value(0).text, patterns);
    // The real dialog: the patterns are its name filter, the name box stays
    // empty; a single pattern the same; a plain name goes into the box.
    struct Case {
        QString initial, filter, name;
    };
    const Case cases[] = {
        {patterns, QStringLiteral("Logs (") + patterns + u')', QString()},
        {QStringLiteral("*.zlg;"), QStringLiteral("ZLG files (*.zlg)"), QString()},
        {QStringLiteral("LAP.REF"), QString(), QStringLiteral("LAP.REF")},
    };
    for (const Case& c : cases) {
        QFileDialog dialog;
        dialog.setOption(QFileDialog::DontUseNativeDialog);
        lorvane::app::prepareOpenDialog(dialog, c.initial);
        const auto* name = dialog.findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
        QVERIFY(name);
        QCOMPARE(name->text(), c.name);
        if (!c.filter.isEmpty())
            QCOMPARE(dialog.nameFilters(), (QStringList{c.filter, QStringLiteral("All files (*)")}));
    }
}

void TestMainWindow::startFinishErrorsKeepLogsDisabled() {
    QTemporaryDir dir;
    Program p;
    const QString missing = dir.filePath(QStringLiteral("gone.gxr"));
    p.prompts.files << missing;
    guitest::ui(p.form).LoadGXR->click();
    QCOMPARE(p.prompts.kinds(), (QStringList{QStringLiteral("open"), QStringLiteral("error")}));
    const QStringList lines = p.prompts.asked[1].text.split(u'\n');
    QCOMPARE(lines[0], QStringLiteral("File not found"));
    QVERIFY(lines.size() == 2 && lines[1].contains(missing));
    QVERIFY(!guitest::ui(p.form).LoadZLG->isEnabled());
    QVERIFY(!guitest::ui(p.form).loadwmx->isEnabled());

    QFile bad(dir.filePath(QStringLiteral("bad.gxr")));
    QVERIFY(bad.open(QIODevice::WriteOnly));
    bad.write("[Start finish]\n-6000000 30900x000 -6000500 309001000\n[Finish]\n0 0 0 0\n");
    bad.close();
    p.prompts.clear();
    p.prompts.files << bad.fileName();
    guitest::ui(p.form).LoadGXR->click();
    QCOMPARE(p.prompts.kinds(), (QStringList{QStringLiteral("open"), QStringLiteral("error")}));
    QVERIFY(p.prompts.asked[1].text.startsWith(QStringLiteral("'30900x000' is not a valid floating point value\n")));
    QVERIFY(p.prompts.asked[1].text.contains(QStringLiteral("line 2")));
    QVERIFY(!guitest::ui(p.form).LoadZLG->isEnabled());
    QVERIFY(guitest::ui(p.form).LoadGXR->isEnabled()); // the window stays usable
}

void TestMainWindow::startFinishNameTest() {
    QTemporaryDir dir;
    QVERIFY(!dir.path().contains(QStringLiteral("gxr")) && !dir.path().contains(QStringLiteral("GXR")));
    Program p;
    QFile f(dir.filePath(QStringLiteral("circuit.Gxr")));
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write("[Start finish]\n-6000000 309000000 -6000500 309001000\n[Finish]\n0 0 0 0\n");
    f.close();
    p.prompts.files << f.fileName();
    guitest::ui(p.form).LoadGXR->click();
    // A message box like every other failure; the logs are still offered,
    // nothing was read, the status says so.
    QCOMPARE(p.prompts.kinds(), (QStringList{QStringLiteral("open"), QStringLiteral("error")}));
    QVERIFY(p.prompts.asked[1].text.contains(QStringLiteral("circuit.Gxr")));
    QVERIFY(guitest::ui(p.form).LoadZLG->isEnabled());
    QVERIFY(!p.session.hasStartFinish() || p.session.gates().start.lat1 == 0);
    QVERIFY(guitest::ui(p.form).StatusLabel->text().contains(QStringLiteral("circuit.Gxr")));
    QVERIFY(guitest::ui(p.form).StatusLabel->text().contains(QStringLiteral("not read")));

    // With good gates loaded before it, the next log's summary carries the
    // note once; the load after that no longer does.
    guitest::SessionFiles files(guitest::sessionOptions(33, 3, false));
    QSignalSpy ended(&p.form, &TForm1::loadEnded);
    p.prompts.clear();
    p.prompts.files << files.gxr << f.fileName() << files.zlg << files.zlg;
    guitest::ui(p.form).LoadGXR->click();
    guitest::ui(p.form).LoadGXR->click();
    guitest::ui(p.form).LoadZLG->click();
    QVERIFY(ended.wait(60000));
    QVERIFY(guitest::ui(p.form).StatusLabel->text().contains(QStringLiteral("not read")));
    guitest::ui(p.form).LoadZLG->click();
    QVERIFY(ended.wait(60000));
    QVERIFY(!guitest::ui(p.form).StatusLabel->text().contains(QStringLiteral("not read")));
    QVERIFY(guitest::ui(p.form).StatusLabel->text().contains(QStringLiteral("3 laps")));
}

void TestMainWindow::droppedFilesLoadLikeTheirButtons() {
    guitest::SessionFiles files(guitest::sessionOptions(31, 3, false));
    Program p;
    bool accepted = true;

    // Anything but a start/finish file or a log is refused.
    drop(p.form, {files.path(QStringLiteral("notes.txt"))}, &accepted);
    QVERIFY(!accepted);

    // A log before any start/finish file: not loaded.
    drop(p.form, {files.zlg}, &accepted);
    QVERIFY(accepted);
    QVERIFY(!p.form.loading());
    QCOMPARE(guitest::ui(p.form).LapTimeBox->count(), 0);
    QVERIFY(guitest::ui(p.form).StatusLabel->text().contains(QStringLiteral("start/finish")));

    // A start/finish file and a log dropped together, in any order and case.
    const QString upper = files.path(QStringLiteral("DEMO.ZLG"));
    QVERIFY(QFile::copy(files.zlg, upper));
    QSignalSpy ended(&p.form, &TForm1::loadEnded);
    drop(p.form, {upper, files.gxr}, &accepted);
    QVERIFY(accepted);
    QVERIFY(guitest::ui(p.form).LoadZLG->isEnabled() || p.form.loading());
    QVERIFY(ended.wait(30000));
    QCOMPARE(guitest::ui(p.form).FileNameLabel->text(), upper);
    QCOMPARE(guitest::ui(p.form).LapTimeBox->count(), files.session.expectedLaps);
    QVERIFY(p.prompts.asked.isEmpty()); // no dialog on the way

    // A binary log by its extension.
    drop(p.form, {files.wmx});
    QVERIFY(ended.wait(30000));
    QVERIFY(p.session.logIsBinary());
    QCOMPARE(guitest::ui(p.form).FileNameLabel->text(), files.wmx);
}

void TestMainWindow::aLogOfTheWrongKindKeepsTheLoadedSession() {
    guitest::SessionFiles files(guitest::sessionOptions(32, 3, false));
    Program p;
    QSignalSpy ended(&p.form, &TForm1::loadEnded);
    drop(p.form, {files.gxr, files.zlg});
    QVERIFY(ended.wait(30000));
    const int laps = guitest::ui(p.form).LapTimeBox->count();
    const std::size_t points = guitest::ui(p.form).Chart1->track().size();
    QVERIFY(laps > 0);

    // The text log given as a binary one, by its button and by a dropped
    // file named .wmx: refused at once, with what it is, and nothing reset.
    const QString renamed = files.path(QStringLiteral("really-text.wmx"));
    QVERIFY(QFile::copy(files.zlg, renamed));
    p.prompts.files << files.zlg;
    guitest::ui(p.form).loadwmx->click();
    drop(p.form, {renamed});
    QVERIFY(!p.form.loading());
    QCOMPARE(p.prompts.kinds(),
             (QStringList{QStringLiteral("open"), QStringLiteral("error"), QStringLiteral("error")}));
    for (int i : {1, 2}) {
        QVERIFY2(p.prompts.asked[i].text.startsWith(
                     QStringLiteral("Not a binary (.wmx) log: the file reads as a text (.zlg) log")),
                 qPrintable(p.prompts.asked[i].text));
    }
    QVERIFY(p.prompts.asked[2].text.contains(renamed));
    QCOMPARE(guitest::ui(p.form).LapTimeBox->count(), laps);
    QCOMPARE(guitest::ui(p.form).Chart1->track().size(), points);
    QCOMPARE(guitest::ui(p.form).FileNameLabel->text(), files.zlg);
    QVERIFY(!p.session.logIsBinary());

    // Junk named .csv through Load log: the same.
    p.prompts.clear();
    p.prompts.files << files.write(QStringLiteral("junk.csv"), std::string("\x7f"
                                                                           "ELF\x02\x01\x01\0\0\0",
                                                                           10));
    guitest::ui(p.form).actLoadLog->trigger();
    QCOMPARE(p.prompts.kinds(), (QStringList{QStringLiteral("open"), QStringLiteral("error")}));
    QVERIFY(p.prompts.asked[1].text.startsWith(QStringLiteral("Not a CSV log")));
    QCOMPARE(guitest::ui(p.form).LapTimeBox->count(), laps);
}

void TestMainWindow::aLoadWithoutLapsSaysWhy() {
    // The start/finish file of another circuit, far away.
    guitest::SessionFiles here(guitest::sessionOptions(33, 2, false));
    guitest::SessionFiles there(guitest::sessionOptions(34, 2, false));
    Program p;
    QSignalSpy ended(&p.form, &TForm1::loadEnded);
    drop(p.form, {there.gxr, here.zlg});
    QVERIFY(ended.wait(30000));
    QCOMPARE(guitest::ui(p.form).LapTimeBox->count(), 0);
    QVERIFY2(guitest::ui(p.form).StatusLabel->text().contains(
                 QStringLiteral("the track never comes within 25 m of the start/finish line's point 1 (nearest: ")),
             qPrintable(guitest::ui(p.form).StatusLabel->text()));
}

QTEST_MAIN(TestMainWindow)
#include "test_main_window.moc"
