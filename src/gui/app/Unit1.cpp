#include "gui/app/Unit1.h"

#include <algorithm>
#include <cmath>
#include <utility>

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QDockWidget>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFile>
#include <QFileInfo>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QMenuBar>
#include <QMimeData>
#include <QMouseEvent>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QSignalBlocker>
#include <QStatusBar>
#include <QStyle>
#include <QTableView>
#include <QUrl>
#include <QVBoxLayout>

#include <qcustomplot.h>

#include "analysis/lap_export.h"
#include "formats/any_log.h"
#include "formats/log_formats.h"
#include "gui/app/client_layout.h"
#include "gui/app/gate_rules_dialog.h"
#include "gui/common/prompts.h"
#include "gui/common/window_style.h"
#include "gui/dbtools/circuit_store.h"
#include "gui/dbtools/uAddCountryForm.h"
#include "gui/dbtools/uAddToDataBase.h"
#include "gui/dbtools/uCircuitsForm.h"
#include "gui/dbtools/uSessionsForm.h"
#include "gui/display/lap_chart.h"
#include "gui/display/track_plot.h"
#include "laps/lap_time_text.h"
#include "lorvane/version.h"
#include "reference/reference_file.h"
#include "session/lap_check.h"
#include "track/gate_lines.h"

using lorvane::app::designFont;
using lorvane::app::makeButton;
using lorvane::app::makeLabel;
using lorvane::app::setTextColour;

namespace {

// Paths go to the engine in the file system's own encoding.
std::string toPath(const QString& path) {
    return QFile::encodeName(path).toStdString();
}

const QColor kLabelGreen(0x00, 0x80, 0x00);
const QColor kLabelRed(0xFF, 0x00, 0x00);

// Where what lies below the chart sits, measured from the bottom
// (and, for the version, the right) of the client area, so that it stays
// below the chart when the window grows.

} // namespace

// --- the lap list -----------------------------------------------------------

void TLapListBox::mousePressEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton && (event->modifiers() & Qt::ControlModifier)) {
        const QModelIndex at = indexAt(event->position().toPoint());
        if (at.isValid()) emit compareRequested(at.row());
        event->accept();
        return;
    }
    QListWidget::mousePressEvent(event);
}

void TLapListBox::mouseDoubleClickEvent(QMouseEvent* event) {
    QListWidget::mouseDoubleClickEvent(event);
    emit DblClick();
}

void TLapListBox::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
        emit DblClick();
        event->accept();
        return;
    }
    QListWidget::keyPressEvent(event);
}

// --- the client area ----------------------------------------------------------

class TForm1::ClientArea : public QWidget {
public:
    ClientArea(TForm1& form) : QWidget(&form), form_(form) {}

protected:
    void resizeEvent(QResizeEvent*) override { form_.layoutClient(size()); }

private:
    TForm1& form_;
};

// --- the window ---------------------------------------------------------------

TForm1::TForm1(lorvane::Session& session, lorvane::app::Prompts& prompts, QWidget* parent)
    : QMainWindow(parent), prompts_(prompts), workspace_(session), worker_(session) {
    setObjectName(QStringLiteral("Form1"));
    setWindowTitle(QStringLiteral("Lorvane"));
    setFont(designFont());
    setAcceptDrops(true);
    // Loads keep their track so that the laps can be cut again at once.
    workspace_.session().setKeepTrack(true);
    workspace_.session().setKeepChannels(true);

    auto* client = new ClientArea(*this);
    client->setObjectName(QStringLiteral("ClientArea"));
    client->setMinimumSize(kMinClientWidth, kMinClientHeight);
    setCentralWidget(client);
    buildControls(client);
    buildMenus();
    buildAnalysisControls();
    buildChartMenus();

    ProgressBar = new QProgressBar(this);
    ProgressBar->setObjectName(QStringLiteral("ProgressBar"));
    ProgressBar->setRange(0, 1000);
    ProgressBar->setTextVisible(false);
    ProgressBar->setMaximumWidth(200);
    ProgressBar->setMaximumHeight(14);
    ProgressBar->hide();
    StatusLabel = new QLabel(this);
    StatusLabel->setObjectName(QStringLiteral("StatusLabel"));
    StatusLabel->setContentsMargins(4, 0, 0, 0);
    statusBar()->addWidget(StatusLabel, 1);
    statusBar()->addPermanentWidget(ProgressBar);
    SplitFixButton = new QPushButton(this);
    SplitFixButton->setObjectName(QStringLiteral("SplitFixButton"));
    SplitFixButton->hide();
    statusBar()->addPermanentWidget(SplitFixButton);
    connect(SplitFixButton, &QPushButton::clicked, this, [this] {
        const lorvane::LogView* v = snapshot().view.get();
        if (v && v->split && v->split->remedy) applyGateRules(*v->split->remedy);
    });
    CancelAddButton = new QPushButton(tr("Cancel"), this);
    CancelAddButton->setObjectName(QStringLiteral("CancelAddButton"));
    CancelAddButton->setToolTip(tr("Stop adding logs to the library (Esc)"));
    CancelAddButton->hide();
    statusBar()->addPermanentWidget(CancelAddButton);
    connect(CancelAddButton, &QPushButton::clicked, this, &TForm1::cancelLibraryAdd);
    actCancelAdd = new QAction(tr("Cancel adding to the library"), this);
    actCancelAdd->setShortcut(Qt::Key_Escape);
    actCancelAdd->setEnabled(false);
    addAction(actCancelAdd);
    connect(actCancelAdd, &QAction::triggered, this, &TForm1::cancelLibraryAdd);
    connect(&libraryWorker_, &lorvane::app::LibraryWorker::progress, this,
            &TForm1::onLibraryProgress);
    connect(&libraryWorker_, &lorvane::app::LibraryWorker::finished, this, &TForm1::onLibraryAdded);
    StatusLabel->setText(QString::fromStdString(snapshot().status));

    connect(&worker_, &lorvane::app::LoadWorker::batch, this, &TForm1::onBatch);
    connect(&worker_, &lorvane::app::LoadWorker::finished, this, &TForm1::onLoadFinished);
    connect(&worker_, &lorvane::app::LoadWorker::picked, this, &TForm1::onPicked);
    connect(&worker_, &lorvane::app::LoadWorker::pickFailed, this, &TForm1::onPickFailed);

    // Actions are found by their names, as the controls are.
    const std::pair<QAction*, const char*> named[] = {{actLoadGXR, "actLoadGXR"},
                                                      {actLoadZLG, "actLoadZLG"},
                                                      {actLoadWmx, "actLoadWmx"},
                                                      {actLoadLog, "actLoadLog"},
                                                      {actQuit, "actQuit"},
                                                      {actNewCountry, "actNewCountry"},
                                                      {actAddToDatabase, "actAddToDatabase"},
                                                      {actCircuits, "actCircuits"},
                                                      {actSessions, "actSessions"},
                                                      {actCancelAdd, "actCancelAdd"},
                                                      {actAbout, "actAbout"},
                                                      {actGateRules, "actGateRules"},
                                                      {actExportCsv, "actExportCsv"},
                                                      {actExportGpx, "actExportGpx"},
                                                      {actSaveStartFinish, "actSaveStartFinish"},
                                                      {actPlaceStart, "actPlaceStart"},
                                                      {actPlaceFinish, "actPlaceFinish"},
                                                      {actAddSplit, "actAddSplit"},
                                                      {actRemoveFinish, "actRemoveFinish"},
                                                      {actRemoveSplit, "actRemoveSplit"},
                                                      {actOpenReference, "actOpenReference"},
                                                      {actCloseReference, "actCloseReference"}};
    for (const auto& [action, name] : named)
        if (action) action->setObjectName(QString::fromLatin1(name));
    drawControls();

    resize(kClientWidth + LapDock->sizeHint().width() +
               style()->pixelMetric(QStyle::PM_DockWidgetSeparatorExtent),
           kOpenClientHeight + menuBar()->sizeHint().height() + statusBar()->sizeHint().height());
    layoutClient(QSize(kClientWidth, kOpenClientHeight));
}

TForm1::~TForm1() {
    worker_.abandon();
    libraryWorker_.abandon();
}

void TForm1::buildControls(QWidget* client) {
    LoadGXR = makeButton(client, "LoadGXR", QStringLiteral("Load GXR file"), 8, 16, 113, 33);

    Chart1 = new lorvane::display::TrackPlot(client);
    Chart1->setGeometry(144, 16, 609, 577);

    FileNameLabel = makeLabel(client, "FileNameLabel", QString(), 19, 632, 10);
    setTextColour(FileNameLabel, kLabelGreen);
    CircuitNumberLabel = makeLabel(client, "CircuitNumberLabel", QString(), 16, 56, 0);
    Label10 = makeLabel(client, "Label10", QStringLiteral(LORVANE_VERSION_SHORT), 728, 600, 0);
    Label11 = makeLabel(client, "Label11", QString(), 19, 608, 12);
    {
        QFont f = Label11->font();
        f.setBold(true);
        Label11->setFont(f);
    }
    setTextColour(Label11, kLabelRed);

    DoubleClickLabel = makeLabel(client, "DoubleClickLabel",
                                 QStringLiteral("Double click lap to use:"), 8, 144, 0);
    DoubleClickLabel->hide();

    LapTimeBox = new TLapListBox(client);
    LapTimeBox->setObjectName(QStringLiteral("LapTimeBox"));
    LapTimeBox->setGeometry(8, 184, 113, 409);
    LapTimeBox->setSelectionMode(QAbstractItemView::SingleSelection);
    LapTimeBox->setUniformItemSizes(true);
    LapTimeBox->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);

    LoadZLG = makeButton(client, "LoadZLG", QStringLiteral("Load ZLG file"), 8, 56, 113, 25);
    LoadZLG->setEnabled(false);
    loadwmx = makeButton(client, "loadwmx", QStringLiteral("Load wmx file"), 8, 88, 113, 25);
    loadwmx->setEnabled(false);

    DoubleClickLabel2 = makeLabel(client, "DoubleClickLabel2",
                                  QStringLiteral("(Fastest is highlighted)"), 8, 160, 0);
    DoubleClickLabel2->hide();

    // The strip chart under the track: speed and delta along the lap.
    Chart2 = new lorvane::display::LapChart(client);
    Chart2->setGeometry(144, kClientHeight, 609, kStripHeight);

    FixRefCheckBox = new QCheckBox(QStringLiteral("Fix Reference Lap"), client);
    FixRefCheckBox->setObjectName(QStringLiteral("FixRefCheckBox"));
    // 113 pixels wide, but never narrower than its caption in the desktop's font.
    FixRefCheckBox->setGeometry(8, 120, std::max(113, FixRefCheckBox->sizeHint().width()), 17);

    // Tab order: LoadGXR, LapTimeBox, LoadZLG, loadwmx, FixRefCheckBox.
    Chart1->setFocusPolicy(Qt::NoFocus);
    setTabOrder(LoadGXR, LapTimeBox);
    setTabOrder(LapTimeBox, LoadZLG);
    setTabOrder(LoadZLG, loadwmx);
    setTabOrder(loadwmx, FixRefCheckBox);

    connect(LoadGXR, &QPushButton::clicked, this, &TForm1::LoadGXRClick);
    connect(LoadZLG, &QPushButton::clicked, this, &TForm1::LoadZLGClick);
    connect(loadwmx, &QPushButton::clicked, this, &TForm1::loadwmxClick);
    connect(LapTimeBox, &TLapListBox::DblClick, this, &TForm1::LapTimeBoxDblClick);
    connect(LapTimeBox, &QListWidget::currentRowChanged, this, &TForm1::showLap);
}

void TForm1::buildMenus() {
    QMenu* file = menuBar()->addMenu(tr("&File"));
    actLoadGXR = file->addAction(tr("Load &GXR file..."), this, &TForm1::LoadGXRClick);
    actLoadZLG = file->addAction(tr("Load &ZLG file..."), this, &TForm1::LoadZLGClick);
    actLoadWmx = file->addAction(tr("Load &wmx file..."), this, &TForm1::loadwmxClick);
    actLoadLog = file->addAction(tr("Load &log (any format)..."), this, &TForm1::LoadLogClick);
    actLoadLog->setShortcut(QKeySequence::Open);
    file->addSeparator();
    actQuit = file->addAction(tr("&Quit"), this, &QWidget::close);
    actQuit->setShortcut(QKeySequence::Quit);
    actLoadZLG->setEnabled(false);
    actLoadWmx->setEnabled(false);
    actLoadLog->setEnabled(false);

    QMenu* lapsMenu = menuBar()->addMenu(tr("&Laps"));
    actGateRules = lapsMenu->addAction(tr("&Gate rules..."), this, &TForm1::editGateRules);
    buildLineMenus(file, lapsMenu);

    QMenu* tools = menuBar()->addMenu(tr("&Tools"));
    actNewCountry = tools->addAction(tr("Create new &country..."), this, [this] {
        if (addCountry_) lorvane::app::showSideWindow(addCountry_, this);
    });
    actAddToDatabase = tools->addAction(tr("&Add to DataBase..."), this, [this] {
        if (!addToDatabase_) return;
        // The lines and rules in force, with the loaded log's track.
        const lorvane::Snapshot& s = snapshot();
        if (s.log() && !s.log()->startFinish.path.empty())
            lorvane::dbtools::proposeLoadedCircuit(*addToDatabase_, *s.log(), *Chart1);
        else
            lorvane::dbtools::proposeLoadedCircuit(*addToDatabase_, s.startFinish, s.rules);
        // It opens where it was designed to, kept on the screen.
        lorvane::app::showSideWindow(addToDatabase_, nullptr);
    });
    actCircuits = tools->addAction(tr("C&ircuits..."), this, [this] {
        if (circuits_) lorvane::app::showSideWindow(circuits_, this);
    });
    actSessions = tools->addAction(tr("&Sessions..."), this, [this] {
        if (sessions_) lorvane::app::showSideWindow(sessions_, this);
    });

    QMenu* help = menuBar()->addMenu(tr("&Help"));
    actAbout = help->addAction(tr("&About Lorvane"), this, &TForm1::showAbout);
    buildSettingsMenus(file, tools);
}

void TForm1::setSideWindows(TAddToDatabaseForm* addToDatabase, TAddCountryForm* addCountry) {
    addToDatabase_ = addToDatabase;
    addCountry_ = addCountry;
}

void TForm1::layoutClient(const QSize& size) {
    // Every pane past the first asks for room of its own.
    const int panes = std::max(1, Chart2->paneCount());
    const lorvane::app::ClientMetrics metrics{lapListWidth(), Chart2->minimumReadableHeight(),
                                              lorvane::app::kStripHeight +
                                                  (panes - 1) * kExtraPaneHeight};
    const lorvane::app::ClientLayout l = lorvane::app::layoutClient(size, metrics);
    LapTimeBox->setGeometry(l.lapList);
    Chart1->setGeometry(l.trackPlot);
    Label10->move(l.versionLabel);
    Label11->move(l.noteLabel);
    FileNameLabel->move(l.fileLabel);
    Chart2->setGeometry(l.strip);
    if (CompareBox) CompareBox->setGeometry(l.compareBox);
    if (QWidget* client = centralWidget())
        client->setMinimumSize(lorvane::app::minimumClientSize(metrics));
}

// --- activation ---------------------------------------------------------------

bool TForm1::event(QEvent* event) {
    if (event->type() == QEvent::WindowActivate) FormActivate();
    return QMainWindow::event(event);
}

void TForm1::FormActivate() {
    if (activatedOnce_) return;
    activatedOnce_ = true;
    if (addToDatabase_) addToDatabase_->addConfirmed = false;
    enableLogLoadsIfCircuits();
}

void TForm1::showAbout() {
    prompts_.inform(this, tr("About Lorvane"),
                    tr("Lorvane " LORVANE_VERSION_SHORT "\n\n"
                       "Makes a reference lap file from a GPS log of a circuit: load the "
                       "start/finish line file, then a text (.zlg) or binary (.wmx) log, and "
                       "double-click the lap to use."));
}

// --- closing, drag and drop ----------------------------------------------------------------

void TForm1::closeEvent(QCloseEvent* event) {
    if (snapshot().linesUnsaved && snapshot().hasStartFinish && !loading()) {
        const auto answer = prompts_.askToSave(
            this, lorvane::app::programTitle(),
            tr("The lines placed on the map have not been saved. Save them as a start/finish "
               "file?"));
        if (answer == lorvane::app::SaveAnswer::Save) saveStartFinishFile();
        // Cancelled, or the save did not happen: the window stays.
        if (answer == lorvane::app::SaveAnswer::Cancel ||
            (answer == lorvane::app::SaveAnswer::Save && snapshot().linesUnsaved)) {
            event->ignore();
            return;
        }
    }
    if (loading()) {
        worker_.abandon();
        setLoading(false);
    }
    // The logs stored so far stay; the one being read is dropped.
    if (addingToLibrary()) {
        libraryWorker_.abandon();
        CancelAddButton->hide();
        actCancelAdd->setEnabled(false);
        if (!loading()) ProgressBar->hide();
    }
    saveWindowSettings();
    event->accept();
    emit closed();
}

namespace {

enum class DropKind { None, StartFinish, TextLog, BinaryLog, OtherLog };

DropKind kindOf(const QString& path) {
    const QString ext = QFileInfo(path).suffix().toLower();
    if (ext == u"gxr") return DropKind::StartFinish;
    const std::string p = toPath(path);
    if (const lorvane::LogFormat* f = lorvane::logFormatByExtension(p)) {
        // Our own two formats load as their buttons do; the others are found
        // from their content.
        if (f->kind == lorvane::LogKind::Text) return DropKind::TextLog;
        if (f->kind == lorvane::LogKind::Binary) return DropKind::BinaryLog;
        return DropKind::OtherLog;
    }
    return DropKind::None;
}

QStringList localFiles(const QMimeData* mime) {
    QStringList paths;
    if (!mime || !mime->hasUrls()) return paths;
    for (const QUrl& url : mime->urls())
        if (url.isLocalFile()) paths << url.toLocalFile();
    return paths;
}

} // namespace

void TForm1::dragEnterEvent(QDragEnterEvent* event) {
    for (const QString& p : localFiles(event->mimeData())) {
        const bool usable = QFileInfo(p).isDir() ? !addingToLibrary()
                                                 : !loading() && kindOf(p) != DropKind::None;
        if (usable) {
            event->acceptProposedAction();
            return;
        }
    }
}

void TForm1::dropEvent(QDropEvent* event) {
    const QStringList paths = localFiles(event->mimeData());
    if (paths.isEmpty()) return;
    event->acceptProposedAction();
    openFiles(paths);
}

void TForm1::openFiles(const QStringList& paths) {
    QStringList folders, files;
    for (const QString& p : paths) (QFileInfo(p).isDir() ? folders : files) << p;
    if (!folders.isEmpty()) addToLibrary(folders);
    if (files.isEmpty() || loading()) return;
    QString startFinish, log;
    DropKind logKind = DropKind::None;
    for (const QString& p : files) {
        const DropKind k = kindOf(p);
        if (k == DropKind::StartFinish && startFinish.isEmpty()) {
            startFinish = p;
        } else if ((k == DropKind::TextLog || k == DropKind::BinaryLog ||
                    k == DropKind::OtherLog) &&
                   log.isEmpty()) {
            log = p;
            logKind = k;
        }
    }
    // A start/finish file first, so that a log dropped with it uses its gates.
    if (!startFinish.isEmpty()) loadStartFinish(startFinish);
    if (log.isEmpty()) return;
    if (!snapshot().logLoadsEnabled) {
        StatusLabel->setText(tr("Load a start/finish line file before a log."));
        return;
    }
    if (logKind == DropKind::OtherLog) {
        loadAnyLog(log);
        return;
    }
    startLoad(logKind == DropKind::TextLog ? lorvane::LogKind::Text : lorvane::LogKind::Binary,
              log);
}

// --- lap analysis: strip chart, lap against lap, lap table ----------------------------------

using lorvane::display::seconds;

void TForm1::buildAnalysisControls() {
    auto* client = centralWidget() ? centralWidget() : LoadGXR->parentWidget();
    Chart2->show();
    connect(Chart2, &lorvane::display::LapChart::cursorMoved, this, &TForm1::onChartCursor);
    connect(Chart1, &QCustomPlot::mouseMove, this, &TForm1::onTrackMouse);

    CompareBox = new QComboBox(client);
    CompareBox->setObjectName(QStringLiteral("CompareBox"));
    CompareBox->setToolTip(
        tr("Compare with: the lap drawn against the selected one (or Ctrl-click it in the list)"));
    CompareBox->addItem(tr("Compare with..."), 0);
    connect(CompareBox, qOverload<int>(&QComboBox::activated), this,
            [this](int index) { compareWith(CompareBox->itemData(index).toInt()); });
    connect(LapTimeBox, &TLapListBox::compareRequested, this, [this](int row) {
        const std::int32_t lap = row + 1;
        compareWith(lap == comparedLap() ? 0 : lap);
    });

    LapDock = new QDockWidget(tr("Lap table"), this);
    LapDock->setObjectName(QStringLiteral("LapDock"));
    LapDock->setFeatures(QDockWidget::DockWidgetMovable | QDockWidget::DockWidgetFloatable);
    auto* panel = new QWidget(LapDock);
    auto* box = new QVBoxLayout(panel);
    box->setContentsMargins(4, 4, 4, 4);
    LapTable = new QTableView(panel);
    lapModel_ = new lorvane::display::LapTableModel(LapTable);
    LapTable->setModel(lapModel_);
    LapTable->setObjectName(QStringLiteral("LapTable"));
    LapTable->setEditTriggers(QAbstractItemView::NoEditTriggers);
    LapTable->setSelectionBehavior(QAbstractItemView::SelectRows);
    LapTable->setSelectionMode(QAbstractItemView::SingleSelection);
    LapTable->verticalHeader()->hide();
    LapTable->verticalHeader()->setDefaultSectionSize(LapTable->fontMetrics().height() + 4);
    LapTable->horizontalHeader()->setSectionResizeMode(QHeaderView::ResizeToContents);
    // Columns sized on the rows in view and a few more: every row has the
    // same layout, and measuring a thousand laps' cells would hold the
    // window at the end of a load.
    LapTable->horizontalHeader()->setResizeContentsPrecision(32);
    box->addWidget(LapTable, 1);
    BestLabel = new QLabel(panel);
    BestLabel->setObjectName(QStringLiteral("BestLabel"));
    BestLabel->setWordWrap(true);
    BestLabel->setTextInteractionFlags(Qt::TextSelectableByMouse);
    box->addWidget(BestLabel);
    LapDock->setWidget(panel);
    LapDock->setMinimumWidth(200);
    // Wide enough for every column of a table of three sectors, lap 1000 on.
    int columns = 0;
    const QFontMetrics cells(LapTable->font());
    for (const char* widest :
         {"0000", "00:00.00", "+00.000", "000.000", "000.000", "000.000", "Top km/h", "Dist m"})
        columns += cells.horizontalAdvance(QString::fromLatin1(widest)) + 8;
    panel->setMinimumWidth(std::max(360, columns + 2 * LapTable->frameWidth() +
                                             style()->pixelMetric(QStyle::PM_ScrollBarExtent) +
                                             16));
    addDockWidget(Qt::RightDockWidgetArea, LapDock);
    // File > Export lap as ..., above Quit.
    QMenu* file = actQuit->associatedObjects().isEmpty()
                      ? nullptr
                      : qobject_cast<QMenu*>(actQuit->associatedObjects().constFirst());
    if (file) {
        actExportCsv = new QAction(tr("Export lap as &CSV..."), this);
        actExportGpx = new QAction(tr("Export lap as G&PX..."), this);
        connect(actExportCsv, &QAction::triggered, this, [this] { exportLap(false); });
        connect(actExportGpx, &QAction::triggered, this, [this] { exportLap(true); });
        file->insertAction(actQuit, actExportCsv);
        file->insertAction(actQuit, actExportGpx);
        file->insertSeparator(actQuit);
        actExportCsv->setEnabled(false);
        actExportGpx->setEnabled(false);
    }
    // Ctrl-click compares there as in the list (see eventFilter).
    LapTable->viewport()->installEventFilter(this);
    // Choosing a lap in the table selects it in the list.
    connect(LapTable, &QTableView::clicked, this, [this](const QModelIndex& index) {
        const int row = index.row();
        if (row >= 0 && row < LapTimeBox->count()) LapTimeBox->setCurrentRow(row);
    });
}

bool TForm1::eventFilter(QObject* watched, QEvent* event) {
    if (LapTable && watched == LapTable->viewport() &&
        (event->type() == QEvent::MouseButtonPress ||
         event->type() == QEvent::MouseButtonDblClick)) {
        auto* mouse = static_cast<QMouseEvent*>(event);
        if (mouse->button() == Qt::LeftButton && (mouse->modifiers() & Qt::ControlModifier)) {
            const QModelIndex at = LapTable->indexAt(mouse->position().toPoint());
            if (at.isValid() && event->type() == QEvent::MouseButtonPress) {
                const std::int32_t lap = at.row() + 1;
                compareWith(lap == comparedLap() ? 0 : lap);
            }
            return true;
        }
    }
    return QMainWindow::eventFilter(watched, event);
}

void TForm1::fitLapTable() {
    // A little over the columns' width: they are measured on the rows in view.
    const int need = LapTable->horizontalHeader()->length() + 2 * LapTable->frameWidth() +
                     LapTable->style()->pixelMetric(QStyle::PM_ScrollBarExtent) + 8;
    const int extra = need - LapTable->width();
    if (extra <= 0) return;
    // The window grows by as much, so that the client area keeps its size.
    // (no wider than the screen's free part).
    if (!isMaximized() && !isFullScreen()) {
        int w = width() + extra;
        if (const QScreen* sc = screen())
            w = std::min(w, sc->availableGeometry().width() - (frameGeometry().width() - width()));
        resize(std::max(w, width()), height());
    }
    resizeDocks({LapDock}, {LapDock->width() + extra}, Qt::Horizontal);
}

int TForm1::lapListWidth() const {
    int widest = 0;
    const QFontMetrics fm(LapTimeBox->font());
    // Every line has the same layout; the last has the widest lap number.
    for (int row : {0, LapTimeBox->count() - 1})
        if (const QListWidgetItem* item = row >= 0 ? LapTimeBox->item(row) : nullptr)
            widest = std::max(widest, fm.horizontalAdvance(item->text()));
    const int chrome = 2 * LapTimeBox->frameWidth() +
                       LapTimeBox->style()->pixelMetric(QStyle::PM_ScrollBarExtent) + 8;
    return std::max(113, widest + chrome);
}

void TForm1::buildLineMenus(QMenu* file, QMenu* laps) {
    actOpenReference = new QAction(tr("Open &reference file..."), this);
    connect(actOpenReference, &QAction::triggered, this, &TForm1::openReferenceFile);
    actCloseReference = new QAction(tr("Close reference file"), this);
    connect(actCloseReference, &QAction::triggered, this, &TForm1::closeReferenceFile);
    actSaveStartFinish = new QAction(tr("&Save start/finish file..."), this);
    connect(actSaveStartFinish, &QAction::triggered, this, &TForm1::saveStartFinishFile);
    QAction* before = nullptr;
    for (QAction* a : file->actions())
        if (a->isSeparator()) before = a;
    file->insertAction(before, actSaveStartFinish);
    file->insertAction(before, actOpenReference);
    file->insertAction(before, actCloseReference);

    laps->addSeparator();
    auto mode = [this, laps](const QString& caption, PlaceMode m) {
        QAction* a = laps->addAction(caption);
        a->setCheckable(true);
        connect(a, &QAction::triggered, this,
                [this, m](bool on) { setPlaceMode(on ? m : PlaceMode::None); });
        return a;
    };
    actPlaceStart = mode(tr("Place &start line"), PlaceMode::Start);
    actPlaceFinish = mode(tr("Place &finish line"), PlaceMode::Finish);
    actAddSplit = mode(tr("Add s&plit line"), PlaceMode::Split);
    actRemoveFinish = laps->addAction(tr("&Remove finish line"), this, &TForm1::removeFinishLine);
    actRemoveSplit = laps->addAction(tr("Remove spli&t line..."), this, &TForm1::removeSplitLine);
    connect(Chart1, &lorvane::display::TrackPlot::placeClicked, this, &TForm1::placeLineAt);
    connect(Chart1, &lorvane::display::TrackPlot::gateDragged, this, &TForm1::moveLineTo);
}
