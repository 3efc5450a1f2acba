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
#include "gui/app/gate_rules_dialog.h"
#include "gui/common/prompts.h"
#include "gui/common/window_style.h"
#include "gui/dbtools/circuit_store.h"
#include "gui/dbtools/uAddCountryForm.h"
#include "gui/dbtools/uAddToDataBase.h"
#include "gui/dbtools/uCircuitsForm.h"
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

QString fromPath(const std::string& path) {
    return QFile::decodeName(QByteArray::fromStdString(path));
}

QString text(const std::string& s) {
    return QString::fromStdString(s);
}

// "1 lap", "3 laps".
QString count(std::int64_t n, const char* one, const char* many) {
    return QString::number(n) + u' ' + QString::fromLatin1(n == 1 ? one : many);
}

lorvane::Diagnostic diagnostic(const char* message) {
    lorvane::Diagnostic d;
    d.message = message;
    return d;
}

constexpr int kFirstSampleRole = Qt::UserRole;
constexpr int kLastSampleRole = Qt::UserRole + 1;

const QColor kLabelGreen(0x00, 0x80, 0x00);
const QColor kLabelRed(0xFF, 0x00, 0x00);

// Where what lies below the chart sits, measured from the bottom
// (and, for the version, the right) of the client area, so that it stays
// below the chart when the window grows.
constexpr int kChartLeft = 144, kChartTop = 16;
constexpr int kChartRightGap = TForm1::kClientWidth - (144 + 609);
constexpr int kChartBottomGap = TForm1::kClientHeight - (16 + 577);

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
    : QMainWindow(parent), session_(session), prompts_(prompts), worker_(session) {
    setObjectName(QStringLiteral("Form1"));
    setWindowTitle(QStringLiteral("Lorvane"));
    setFont(designFont());
    setAcceptDrops(true);
    // Loads keep their track so that the laps can be cut again at once.
    session_.setKeepTrack(true);

    auto* client = new ClientArea(*this);
    client->setObjectName(QStringLiteral("ClientArea"));
    client->setMinimumSize(kMinClientWidth, kMinClientHeight);
    setCentralWidget(client);
    buildControls(client);
    buildMenus();
    buildAnalysisControls();

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
        if (splitRemedy_) applyGateRules(*splitRemedy_);
    });
    StatusLabel->setText(tr("Load a start/finish line file to begin."));

    connect(&worker_, &lorvane::app::LoadWorker::batch, this, &TForm1::onBatch);
    connect(&worker_, &lorvane::app::LoadWorker::finished, this, &TForm1::onLoadFinished);
    connect(&worker_, &lorvane::app::LoadWorker::picked, this, &TForm1::onPicked);
    connect(&worker_, &lorvane::app::LoadWorker::pickFailed, this, &TForm1::onPickFailed);

    resize(kClientWidth + LapDock->sizeHint().width() +
               style()->pixelMetric(QStyle::PM_DockWidgetSeparatorExtent),
           kOpenClientHeight + menuBar()->sizeHint().height() + statusBar()->sizeHint().height());
    layoutClient(QSize(kClientWidth, kOpenClientHeight));
}

TForm1::~TForm1() {
    worker_.abandon();
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
        if (!session_.busy())
            lorvane::dbtools::proposeLoadedCircuit(*addToDatabase_, session_, *Chart1);
        // It opens where it was designed to, kept on the screen.
        lorvane::app::showSideWindow(addToDatabase_, nullptr);
    });
    actCircuits = tools->addAction(tr("C&ircuits..."), this, [this] {
        if (circuits_) lorvane::app::showSideWindow(circuits_, this);
    });

    QMenu* help = menuBar()->addMenu(tr("&Help"));
    actAbout = help->addAction(tr("&About Lorvane"), this, &TForm1::showAbout);
}

void TForm1::setSideWindows(TAddToDatabaseForm* addToDatabase, TAddCountryForm* addCountry) {
    addToDatabase_ = addToDatabase;
    addCountry_ = addCountry;
}

void TForm1::layoutClient(const QSize& size) {
    const int w = std::max(size.width(), kMinClientWidth);
    const int h = std::max(size.height(), kMinClientHeight);
    // The strip chart takes the bottom; below its opening height it gives way
    // first, down to a minimum, then the track plot shrinks.
    const int strip = std::clamp(h - kClientHeight - kStripGap, 80, kStripHeight);
    const int down = h - strip - kStripGap - kClientHeight;
    const int right = w - kClientWidth;
    // The lap list grows with the window, and wide enough for whole lines.
    const int listWidth = lapListWidth();
    LapTimeBox->setGeometry(8, 184, listWidth, std::max(60, 409 + down));
    const int chartLeft = std::max(kChartLeft, 8 + listWidth + 23);
    const int chartWidth = w - chartLeft - kChartRightGap;
    Chart1->setGeometry(chartLeft, kChartTop, chartWidth,
                        h - kChartTop - kChartBottomGap - strip - kStripGap);
    Label10->move(728 + right, 600 + down);
    Label11->move(19, 608 + down);
    FileNameLabel->move(19, 632 + down);
    layoutStrip(chartLeft, chartWidth, kClientHeight + down, strip);
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

// --- start/finish line file ---------------------------------------------------------

void TForm1::LoadGXRClick() {
    if (loading()) return;
    const auto path = prompts_.openFile(
        this, QStringLiteral("Pick .gxr file containing start/finish line"),
        QStringLiteral("*.gxr"));
    if (!path) {
        enableLogLoads();
        return;
    }
    loadStartFinish(*path);
}

void TForm1::loadStartFinish(const QString& path) {
    const lorvane::StartFinishReport r = session_.loadStartFinish(toPath(path));
    if (r.nameRejected) {
        startFinishNote_ = tr("%1 was not read: its path contains neither \"gxr\" nor \"GXR\"")
                               .arg(QFileInfo(path).fileName());
        StatusLabel->setText(startFinishNote_);
        prompts_.error(this, startFinishNote_ + u'\n' + path);
    } else if (r.ok) {
        startFinishNote_.clear();
        circuitFromDb_ = false;
        rulesBeforeFinish_.reset();
        linesUnsaved_ = false;
        StatusLabel->setText(
            session_.hasFinishLine()
                ? tr("Start/finish line file %1 read (with a finish line).")
                      .arg(QFileInfo(path).fileName())
                : tr("Start/finish line file %1 read.").arg(QFileInfo(path).fileName()));
    } else {
        showError(r.error);
        return;
    }
    if (r.enableLogLoads()) enableLogLoads();
    // A log already loaded is cut at the new gates at once.
    if (r.ok && !loading()) {
        const auto log = session_.loaded();
        if (log && log->track) recutLoaded();
    }
}

void TForm1::enableLogLoads() {
    logLoadsEnabled_ = true;
    if (loading()) return;
    LoadZLG->setEnabled(true);
    loadwmx->setEnabled(true);
    actLoadZLG->setEnabled(true);
    actLoadWmx->setEnabled(true);
    actLoadLog->setEnabled(true);
}

// --- logs ---------------------------------------------------------------------------

void TForm1::LoadZLGClick() {
    if (loading() || !logLoadsEnabled_) return;
    const auto path = prompts_.openFile(this, QStringLiteral("Pick .zlg file "),
                                        QStringLiteral("*.zlg;"));
    if (!path) {
        closeAfterCancel();
        return;
    }
    startLoad(lorvane::LogKind::Text, *path);
}

void TForm1::loadwmxClick() {
    if (loading() || !logLoadsEnabled_) return;
    const auto path = prompts_.openFile(this, QStringLiteral("Pick .wmx file "),
                                        QStringLiteral("*.wmx;"));
    if (!path) {
        closeAfterCancel();
        return;
    }
    startLoad(lorvane::LogKind::Binary, *path);
}

// A cancelled log dialog still ends like a load: the hints show and the axes
// keep their limits from now on. The previous load's laps, track and markers
// stay.
void TForm1::closeAfterCancel() {
    DoubleClickLabel->show();
    DoubleClickLabel2->show();
    Chart1->fixAxes();
}

void TForm1::startLoad(lorvane::LogKind kind, const QString& path) {
    if (loading() || session_.busy()) return;
    // A file that is plainly not of this kind (a text log given as a binary
    // one, say) is refused here, while the loaded session is still shown.
    try {
        lorvane::checkLogFile(kind, toPath(path));
    } catch (const lorvane::LoadError& e) {
        showError(e.diagnostic());
        return;
    }
    // A file has been chosen: the lap list and the track start afresh.
    LapTimeBox->clear();
    showAnalysis(lorvane::LoadedLog{});
    // A binary record is at least 33 bytes; a text log's line rarely under 30.
    const auto bytes = static_cast<std::size_t>(std::max<qint64>(QFileInfo(path).size(), 0));
    Chart1->clearTrack(bytes / (kind == lorvane::LogKind::Binary ? 33 : 30));
    FileNameLabel->setText(path);
    FileNameLabel->adjustSize();
    if (!worker_.start(kind, toPath(path))) return;
    setLoading(true);
    StatusLabel->setText(tr("Reading %1 ...").arg(QFileInfo(path).fileName()));
}

void TForm1::setLoading(bool on) {
    LoadGXR->setEnabled(!on);
    actLoadGXR->setEnabled(!on);
    actGateRules->setEnabled(!on);
    const bool logs = !on && logLoadsEnabled_;
    LoadZLG->setEnabled(logs);
    loadwmx->setEnabled(logs);
    actLoadZLG->setEnabled(logs);
    actLoadWmx->setEnabled(logs);
    actLoadLog->setEnabled(logs);
    ProgressBar->setRange(0, 1000);
    ProgressBar->setValue(0);
    ProgressBar->setVisible(on);
    if (on) {
        QApplication::setOverrideCursor(Qt::BusyCursor);
    } else {
        QApplication::restoreOverrideCursor();
    }
}

void TForm1::onBatch(const lorvane::app::LoadBatch& batch) {
    Chart1->appendTrack(batch.points);
    for (const auto& ev : batch.laps) {
        auto* item = new QListWidgetItem(text(ev.lap.line), LapTimeBox);
        // The lap's samples, for its highlight on the track.
        item->setData(kFirstSampleRole, ev.lap.startSample);
        item->setData(kLastSampleRole, ev.lap.endSample);
        item->setSizeHint(QSize(0, 13));
        if (ev.best) LapTimeBox->setCurrentRow(LapTimeBox->count() - 1);
    }
    // Lap 1000 on needs a wider list: laid out as the lap arrives, so the
    // end of the load does not resize (and repaint) the plots once more.
    if (!batch.laps.empty() && lapListWidth() != LapTimeBox->width())
        layoutClient(centralWidget()->size());
    if (batch.total > 0) {
        const double share = static_cast<double>(batch.done) / static_cast<double>(batch.total);
        ProgressBar->setRange(0, 1000);
        ProgressBar->setValue(static_cast<int>(std::clamp(share, 0.0, 1.0) * 1000));
    } else if (batch.done > 0) {
        ProgressBar->setRange(0, 0); // a pipe or the like: size unknown, just busy
    }
}

void TForm1::onLoadFinished(const lorvane::LoadReport& report) {
    setLoading(false);
    if (report.ok) {
        // The closing steps: hints, fitted axes, markers of this load.
        DoubleClickLabel->show();
        DoubleClickLabel2->show();
        Chart1->fixAxes();
        Chart1->fitTo(report.extent);
        if (report.hasBase) {
            Chart1->setMarkers(report.startMarker, report.finishMarker);
        } else {
            Chart1->setMarkers(std::nullopt, std::nullopt);
        }
        if (report.bestLap > 0 && report.bestLap <= LapTimeBox->count())
            LapTimeBox->setCurrentRow(report.bestLap - 1);
    }
    StatusLabel->setText(summary(report));
    // A rejected start/finish file is told once, in the summary of the load after it.
    startFinishNote_.clear();
    if (const auto log = session_.loaded()) {
        if (report.ok) showAnalysis(*log);
        showGates(*log);
        if (report.ok) showSplitHint(*log);
    }
    if (!report.ok && !report.cancelled) showError(report.error);
    if (report.ok && (!session_.hasStartFinish() || circuitFromDb_)) findCircuitForLoaded();
    emit loadEnded(report);
}

QString TForm1::summary(const lorvane::LoadReport& r) const {
    QStringList parts;
    if (r.cancelled) return tr("Load cancelled.");
    if (!r.layoutName.empty()) parts << text(r.layoutName);
    parts << count(r.samples, "sample", "samples");
    parts << count(r.lapCount, "lap", "laps");
    if (r.bestLap > 0)
        parts << tr("fastest lap %1: %2")
                     .arg(r.bestLap)
                     .arg(text(lorvane::convertRealtoUTC(r.bestLapTime)));
    QStringList notes;
    if (!r.ok) notes << tr("stopped: %1").arg(text(r.error.message));
    if (r.ok && !r.noLaps.empty()) notes << text(r.noLaps);
    if (r.runCount > 1) {
        // "3 runs: pauses of 57, 48 min": no lap is timed across a pause.
        QStringList gaps;
        for (const double p : r.pauses)
            gaps << (p >= 60 ? QString::number(std::lround(p / 60)) + tr(" min")
                             : QString::number(std::lround(p)) + tr(" s"));
        notes << tr("%1 runs: %2 %3")
                     .arg(r.runCount)
                     .arg(r.pauses.size() == 1 ? tr("a pause of") : tr("pauses of"))
                     .arg(gaps.join(QStringLiteral(", ")));
    }
    if (r.cutMidLine && r.kind != lorvane::LogKind::Binary)
        notes << tr("the last line is cut off in mid-line");
    if (r.resyncs > 0)
        notes << count(r.resyncs, "record", "records") + tr(" dropped by resynchronisation");
    if (r.shortRecords > 0) notes << tr("a short last record dropped");
    if (!r.readerNote.empty()) notes << text(r.readerNote);
    if (!startFinishNote_.isEmpty()) notes << startFinishNote_;
    QString s = parts.join(QStringLiteral(" \u00b7 "));
    if (!notes.isEmpty()) s += QStringLiteral(" \u2014 ") + notes.join(QStringLiteral("; "));
    return s;
}

void TForm1::showLap(int row) {
    const QListWidgetItem* item = row >= 0 ? LapTimeBox->item(row) : nullptr;
    if (!item) {
        Chart1->clearHighlight();
        showLapTraces();
        return;
    }
    Chart1->highlightSamples(item->data(kFirstSampleRole).toInt(),
                             item->data(kLastSampleRole).toInt());
    showLapTraces();
}

// --- gate rules and re-cutting ---------------------------------------------------

void TForm1::editGateRules() {
    if (loading()) return;
    lorvane::app::GateRulesDialog dialog(session_.gateRules(), this);
    if (dialog.exec() != QDialog::Accepted) return;
    applyGateRules(dialog.rules());
}

void TForm1::applyGateRules(const lorvane::GateRules& rules) {
    if (loading()) return;
    session_.setGateRules(rules);
    const auto log = session_.loaded();
    if (log && log->track) recutLoaded();
}

void TForm1::recutLoaded() {
    const std::int32_t selected = selectedLap();
    try {
        session_.recutLoaded();
    } catch (const lorvane::LoadError& e) {
        showError(e.diagnostic());
        return;
    }
    const auto log = session_.loaded();
    showLaps(*log, selected);
    showGates(*log);
    StatusLabel->setText(summary(log->report));
    showSplitHint(*log);
}

void TForm1::showLaps(const lorvane::LoadedLog& log, std::int32_t keep) {
    LapTimeBox->clear();
    for (const lorvane::Lap& lap : log.laps) {
        auto* item = new QListWidgetItem(text(lap.line), LapTimeBox);
        item->setData(kFirstSampleRole, lap.startSample);
        item->setData(kLastSampleRole, lap.endSample);
        item->setSizeHint(QSize(0, 13));
    }
    // The lap that was selected stays so when it is still there.
    if (keep > 0 && keep <= LapTimeBox->count())
        LapTimeBox->setCurrentRow(keep - 1);
    else if (log.bestLap > 0 && log.bestLap <= LapTimeBox->count())
        LapTimeBox->setCurrentRow(log.bestLap - 1);
    else
        Chart1->clearHighlight();
    if (log.hasBase) Chart1->setMarkers(log.report.startMarker, log.report.finishMarker);
    showAnalysis(log);
}

void TForm1::showGates(const lorvane::LoadedLog& log) {
    if (!log.hasBase) {
        Chart1->setGateLines({});
        return;
    }
    showPlacedLines(log);
}

void TForm1::showSplitHint(const lorvane::LoadedLog& log) {
    splitRemedy_.reset();
    SplitFixButton->hide();
    const auto split = lorvane::splitLaps(log.laps);
    if (!split) return;
    QStringList laps;
    for (std::int32_t n : *split) laps << QString::number(n);
    QString note = tr("Laps %1 look split: the track may cross a gate twice a lap.")
                       .arg(laps.join(QStringLiteral(", ")));
    // Only a remedy whose laps hold up is offered.
    const auto check = lorvane::checkSplitLaps(log);
    if (check && check->remedy) {
        const lorvane::GateRules& r = *check->remedy;
        splitRemedy_ = r;
        SplitFixButton->setText(
            r.direction != log.rules.direction
                ? (r.direction == lorvane::GateDirection::Forward
                       ? tr("Count forward crossings only")
                       : tr("Count reverse crossings only"))
                : tr("Ignore laps under %1 s").arg(static_cast<long long>(r.minLap)));
        SplitFixButton->show();
    }
    StatusLabel->setText(StatusLabel->text() + QStringLiteral(" \u2014 ") + note);
}

// --- lap choice and reference file ---------------------------------------------------

void TForm1::LapTimeBoxDblClick() {
    if (loading() || session_.busy()) return;
    const QList<QListWidgetItem*> selected = LapTimeBox->selectedItems();
    if (selected.isEmpty()) return;
    const auto log = session_.loaded();
    if (!log) return;
    const int lap = LapTimeBox->row(selected.constFirst()) + 1;
    const lorvane::Lap* chosen = log->lap(lap);
    if (!chosen) return;

    const QString prompt = QStringLiteral("Use lap ") + QString::number(lap) +
                           QStringLiteral(" : ") + text(lorvane::convertRealtoUTC(chosen->time)) +
                           QStringLiteral(" ?");
    if (!prompts_.confirm(this, QStringLiteral("Warning"), prompt)) return;

    // The lap is read again from its file off this thread; the controls wait.
    if (!worker_.startPick(log, lap)) return;
    session_.setChosenLap(lap);
    pickLog_ = log;
    setLoading(true);
    ProgressBar->setRange(0, 0); // just busy: a lap is read in a moment
    StatusLabel->setText(tr("Reading lap %1 ...").arg(lap));
}

void TForm1::onPicked(const lorvane::ReferenceLap& ref) {
    setLoading(false);
    StatusLabel->setText(summary(pickLog_->report));
    saveLapRefFile(ref);
    pickLog_.reset();
}

void TForm1::onPickFailed(const lorvane::Diagnostic& error) {
    setLoading(false);
    if (pickLog_) StatusLabel->setText(summary(pickLog_->report));
    pickLog_.reset();
    showError(error);
}

void TForm1::saveLapRefFile(const lorvane::ReferenceLap& ref) {
    const auto path = prompts_.saveFile(this, QStringLiteral("Enter filename for Reference file"),
                                        QStringLiteral("LAP.REF"));
    if (!path) return;
    try {
        lorvane::saveLapRefFile(*pickLog_, ref, toPath(*path), FixRefCheckBox->isChecked());
    } catch (const lorvane::LoadError& e) {
        showError(e.diagnostic());
        return;
    } catch (const std::exception& e) {
        showError(diagnostic(e.what()));
        return;
    }
    prompts_.inform(this, lorvane::app::programTitle(), QStringLiteral("File created OK"));
}

// --- messages -------------------------------------------------------------------------

void TForm1::showError(const lorvane::Diagnostic& d) {
    QString message = text(d.message);
    const std::string where = d.where();
    if (!where.empty()) message += u'\n' + fromPath(where);
    prompts_.error(this, message);
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
    if (linesUnsaved_ && session_.hasStartFinish() && !loading()) {
        const auto answer = prompts_.askToSave(
            this, lorvane::app::programTitle(),
            tr("The lines placed on the map have not been saved. Save them as a start/finish "
               "file?"));
        if (answer == lorvane::app::SaveAnswer::Save) saveStartFinishFile();
        // Cancelled, or the save did not happen: the window stays.
        if (answer == lorvane::app::SaveAnswer::Cancel ||
            (answer == lorvane::app::SaveAnswer::Save && linesUnsaved_)) {
            event->ignore();
            return;
        }
    }
    if (loading()) {
        worker_.abandon();
        setLoading(false);
    }
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
    if (loading()) return;
    for (const QString& p : localFiles(event->mimeData())) {
        if (kindOf(p) != DropKind::None) {
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
    if (loading()) return;
    QString startFinish, log;
    DropKind logKind = DropKind::None;
    for (const QString& p : paths) {
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
    if (!logLoadsEnabled_) {
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

void TForm1::LoadLogClick() {
    if (loading() || !logLoadsEnabled_) return;
    const auto path = prompts_.openFile(this, tr("Pick a log file"),
                                        QString::fromStdString(lorvane::logFilePatterns()));
    if (!path) {
        closeAfterCancel();
        return;
    }
    loadAnyLog(*path);
}

void TForm1::loadAnyLog(const QString& path) {
    // The format is found from the file's content before anything is reset.
    std::optional<lorvane::LogKind> kind;
    try {
        kind = lorvane::detectLogFile(toPath(path));
    } catch (const lorvane::LoadError& e) {
        showError(e.diagnostic());
        return;
    }
    if (!kind) {
        lorvane::Diagnostic d;
        d.message = "Not a log this program reads (" + lorvane::logFormatsInWords() + ")";
        d.file = toPath(path);
        d.kind = lorvane::ErrorKind::Syntax;
        showError(d);
        return;
    }
    startLoad(*kind, path);
}

// --- the circuit database and lines placed on the map ----------------------------------

void TForm1::buildLineMenus(QMenu* file, QMenu* laps) {
    actSaveStartFinish = new QAction(tr("&Save start/finish file..."), this);
    connect(actSaveStartFinish, &QAction::triggered, this, &TForm1::saveStartFinishFile);
    QAction* before = nullptr;
    for (QAction* a : file->actions())
        if (a->isSeparator()) before = a;
    file->insertAction(before, actSaveStartFinish);

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
    connect(Chart1, &lorvane::display::TrackPlot::placeClicked, this, &TForm1::placeLineAt);
    connect(Chart1, &lorvane::display::TrackPlot::gateDragged, this, &TForm1::moveLineTo);
}

void TForm1::setCircuitDbPath(const std::string& path) {
    circuitDbPath_ = path;
    enableLogLoadsIfCircuits();
}

void TForm1::enableLogLoadsIfCircuits() {
    if (logLoadsEnabled_) return;
    const std::string path = circuitDbPath_.empty() ? lorvane::defaultCircuitDbPath()
                                                    : circuitDbPath_;
    // Asking is no reason to create the database.
    if (!QFileInfo::exists(fromPath(path))) return;
    try {
        if (!lorvane::CircuitDb::open(path).circuits().empty()) enableLogLoads();
    } catch (const lorvane::LoadError&) {
        // Reported when a load looks its circuit up.
    }
}

void TForm1::findCircuitForLoaded() {
    const auto log = session_.loaded();
    if (!log || !log->track || !log->hasBase) return;
    auto db = lorvane::dbtools::openCircuitDb(circuitDbPath_, prompts_, this);
    if (!db) return;
    std::vector<lorvane::GeoSample> track;
    track.reserve(log->track->samples.size());
    for (const lorvane::TrackSample& t : log->track->samples) {
        lorvane::GeoSample g;
        lorvane::track::toMinutes(log->plane, lorvane::LocalPoint{t.east, t.north}, g.lat, g.lon);
        track.push_back(g);
    }
    try {
        const std::vector<lorvane::CircuitMatch> matches = db->findCircuitsForTrack(track);
        if (matches.empty()) {
            const QString none = tr("No circuit in the database matches this log: load its "
                                    "start/finish line file (.gxr).");
            StatusLabel->setText(summary(log->report) + QStringLiteral(" \u2014 ") + none);
            prompts_.inform(this, lorvane::app::programTitle(), none);
            return;
        }
        std::size_t pick = 0;
        if (matches.size() > 1) {
            QStringList items;
            for (const lorvane::CircuitMatch& m : matches)
                items << text(m.circuit.name) + QStringLiteral(" \u2014 ") +
                             (m.circuit.lapDistance
                                  ? lorvane::dbtools::distanceText(*m.circuit.lapDistance)
                                  : tr("lap distance not stored"));
            const auto chosen = prompts_.choose(
                this, tr("Choose the circuit"),
                tr("%1 circuits in the database match this log. Which one was driven?")
                    .arg(matches.size()),
                items);
            if (!chosen || *chosen < 0 || static_cast<std::size_t>(*chosen) >= matches.size()) {
                StatusLabel->setText(summary(log->report) + QStringLiteral(" \u2014 ") +
                                     tr("no circuit chosen: load a start/finish line file (.gxr)"));
                return;
            }
            pick = static_cast<std::size_t>(*chosen);
        }
        const lorvane::Circuit& c = matches[pick].circuit;
        // The text a reference file copies is the circuit's exported .gxr.
        lorvane::StartFinishFile file;
        file.path = c.name;
        file.text = db->exportGxr(c.name);
        file.gates = lorvane::parseStartFinish(file.text, c.name);
        file.splits = c.splits;
        session_.setStartFinish(std::move(file));
        // A circuit stores no pause limit: the user's stays in force.
        lorvane::GateRules rules = c.rules;
        rules.maxGap = session_.gateRules().maxGap;
        session_.setGateRules(rules);
        circuitFromDb_ = true;
        rulesBeforeFinish_.reset();
        linesUnsaved_ = false;
        startFinishNote_ = tr("circuit %1 from the database").arg(text(c.name));
    } catch (const lorvane::LoadError& e) {
        showError(e.diagnostic());
        return;
    }
    enableLogLoads();
    recutLoaded();
}

void TForm1::setPlaceMode(PlaceMode mode) {
    placeMode_ = mode;
    Chart1->setPlacing(mode != PlaceMode::None);
    actPlaceStart->setChecked(mode == PlaceMode::Start);
    actPlaceFinish->setChecked(mode == PlaceMode::Finish);
    actAddSplit->setChecked(mode == PlaceMode::Split);
    if (mode != PlaceMode::None)
        StatusLabel->setText(mode == PlaceMode::Split
                                 ? tr("Click the track where the split line goes.")
                                 : tr("Click the track where the line goes; it counts the "
                                      "direction of travel there as forward."));
}

void TForm1::placeLineAt(const lorvane::LocalPoint& point) {
    const PlaceMode mode = placeMode_;
    setPlaceMode(PlaceMode::None);
    if (mode == PlaceMode::None || loading() || session_.busy()) return;
    const auto gate = gateNear(point);
    if (!gate) return;
    lorvane::StartFinishFile file = session_.startFinish();
    switch (mode) {
    case PlaceMode::Start: file.gates.start = *gate; break;
    case PlaceMode::Finish:
        if (!file.gates.hasFinishLine) rulesBeforeFinish_ = session_.gateRules();
        file.gates.finish = *gate;
        file.gates.hasFinishLine = true;
        break;
    case PlaceMode::Split: file.splits.push_back(*gate); break;
    case PlaceMode::None: return;
    }
    usePlacedLines(std::move(file));
}

std::optional<lorvane::Gate> TForm1::gateNear(const lorvane::LocalPoint& point) {
    const auto log = session_.loaded();
    if (!log || !log->track || !log->hasBase) {
        StatusLabel->setText(tr("Load a log before placing lines on the map."));
        return std::nullopt;
    }
    const auto index = lorvane::track::nearestTrackSample(*log->track, point);
    const auto gate = index ? lorvane::track::gateAtTrackPoint(*log->track, *index, log->plane)
                            : std::nullopt;
    if (!gate) StatusLabel->setText(tr("The track does not move there: place the line elsewhere."));
    return gate;
}

void TForm1::moveLineTo(int handle, const lorvane::LocalPoint& point) {
    if (loading() || session_.busy() || handle < 0 || !session_.hasStartFinish()) return;
    lorvane::StartFinishFile file = session_.startFinish();
    const std::size_t finishes = file.gates.hasFinishLine ? 1 : 0;
    const auto h = static_cast<std::size_t>(handle);
    if (h >= 1 + finishes + file.splits.size()) return;
    const auto gate = gateNear(point);
    if (!gate) return;
    if (h == 0)
        file.gates.start = *gate;
    else if (h == finishes)
        file.gates.finish = *gate;
    else
        file.splits[h - 1 - finishes] = *gate;
    usePlacedLines(std::move(file));
}

void TForm1::removeFinishLine() {
    if (loading() || !session_.hasFinishLine()) return;
    lorvane::StartFinishFile file = session_.startFinish();
    file.gates.finish = lorvane::Gate{};
    file.gates.hasFinishLine = false;
    // The rules the laps were cut with before the line (a direction chosen
    // for the laps it split means nothing without it).
    const auto rules = std::exchange(rulesBeforeFinish_, std::nullopt);
    usePlacedLines(std::move(file), rules);
}

void TForm1::usePlacedLines(lorvane::StartFinishFile file,
                            const std::optional<lorvane::GateRules>& rules) {
    try {
        lorvane::StartFinishFile placed = lorvane::startFinishFromGates(
            file.gates, tr("lines placed on the map").toStdString());
        placed.splits = std::move(file.splits);
        session_.setStartFinish(std::move(placed));
    } catch (const lorvane::LoadError& e) {
        showError(e.diagnostic());
        return;
    }
    if (rules) session_.setGateRules(*rules);
    linesUnsaved_ = true;
    circuitFromDb_ = false;
    startFinishNote_ = tr("lines placed on the map");
    enableLogLoads();
    const auto log = session_.loaded();
    if (log && log->track) recutLoaded();
}

void TForm1::showPlacedLines(const lorvane::LoadedLog& log) {
    std::vector<lorvane::track::GateLine> lines = lorvane::track::gateLines(log.startFinish.gates,
                                                                            log.plane, log.rules);
    for (const lorvane::Gate& g : log.startFinish.splits) {
        lorvane::StartFinish one;
        one.start = g;
        for (const auto& l : lorvane::track::gateLines(one, log.plane, lorvane::GateRules{}))
            lines.push_back(l);
    }
    Chart1->setGateLines(lines);
    // Each gate's point 1 may be dragged along the track.
    std::vector<lorvane::LocalPoint> handles;
    if (log.startFinish.gates.start.lat1 != 0)
        handles.push_back(
            log.plane.toLocal(log.startFinish.gates.start.lat1, log.startFinish.gates.start.long1));
    else if (log.startFinish.gates.hasFinishLine || !log.startFinish.splits.empty())
        handles.push_back(
            lorvane::LocalPoint{std::nan(""), std::nan("")}); // no start line: nothing to drag
    if (log.startFinish.gates.hasFinishLine)
        handles.push_back(log.plane.toLocal(log.startFinish.gates.finish.lat1,
                                            log.startFinish.gates.finish.long1));
    for (const lorvane::Gate& g : log.startFinish.splits)
        handles.push_back(log.plane.toLocal(g.lat1, g.long1));
    if (!log.hasBase) handles.clear();
    Chart1->setGateHandles(std::move(handles));
}

void TForm1::saveStartFinishFile() {
    if (loading() || session_.busy()) return;
    if (!session_.hasStartFinish()) {
        StatusLabel->setText(tr("There are no start/finish lines to save."));
        return;
    }
    const auto path = prompts_.saveFile(this, tr("Save start/finish file"),
                                        QStringLiteral("circuit.gxr"));
    if (!path) return;
    QString target = *path;
    // The name test the loader applies.
    if (!lorvane::passesGxrNameTest(toPath(target))) target += QStringLiteral(".gxr");
    const std::vector<lorvane::Gate> splits = session_.startFinish().splits;
    try {
        lorvane::writeFileAtomically(toPath(target), session_.startFinish().text);
    } catch (const lorvane::LoadError& e) {
        showError(e.diagnostic());
        return;
    }
    // The saved file is in force from now on, as if it had been loaded.
    const lorvane::StartFinishReport r = session_.loadStartFinish(toPath(target));
    if (!r.ok) {
        showError(r.error);
        return;
    }
    if (!splits.empty()) {
        lorvane::StartFinishFile f = session_.startFinish();
        f.splits = splits;
        session_.setStartFinish(std::move(f));
    }
    circuitFromDb_ = false;
    linesUnsaved_ = false;
    startFinishNote_ = tr("start/finish lines saved as %1").arg(QFileInfo(target).fileName());
    const auto log = session_.loaded();
    if (log && log->track)
        recutLoaded();
    else
        StatusLabel->setText(startFinishNote_);
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
        compareWith(lap == compareLap_ ? 0 : lap);
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
                compareWith(lap == compareLap_ ? 0 : lap);
            }
            return true;
        }
    }
    return QMainWindow::eventFilter(watched, event);
}

void TForm1::layoutStrip(int chartLeft, int chartWidth, int top, int height) {
    Chart2->setGeometry(chartLeft, top, chartWidth, height);
    if (CompareBox) CompareBox->setGeometry(8, top, chartLeft - 16, 24);
}

void TForm1::fitLapTable() {
    // A little over the columns' width: they are measured on the rows in view.
    const int need = LapTable->horizontalHeader()->length() + 2 * LapTable->frameWidth() +
                     LapTable->style()->pixelMetric(QStyle::PM_ScrollBarExtent) + 8;
    const int extra = need - LapTable->width();
    if (extra <= 0) return;
    // The window grows by as much, so that the client area keeps its size.
    if (!isMaximized() && !isFullScreen()) resize(width() + extra, height());
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

std::int32_t TForm1::selectedLap() const {
    const int row = LapTimeBox->currentRow();
    return row >= 0 ? row + 1 : 0;
}

std::shared_ptr<const lorvane::LapTrace> TForm1::traceOf(std::int32_t lap) {
    if (!analysed_ || !analysed_->track || lap < 1 ||
        static_cast<std::size_t>(lap) > analysed_->laps.size())
        return nullptr;
    auto& slot = traces_[static_cast<std::size_t>(lap) - 1];
    if (!slot) {
        auto t = std::make_shared<lorvane::LapTrace>(
            lorvane::traceLapNumber(*analysed_->track, analysed_->laps, analysed_->crossings, lap));
        if (t->empty()) return nullptr;
        slot = std::move(t);
    }
    return slot;
}

void TForm1::showAnalysis(const lorvane::LoadedLog& log) {
    const auto current = session_.loaded();
    analysed_ = current.get() == &log ? current : nullptr;
    traces_.assign(analysed_ ? analysed_->laps.size() : 0, nullptr);
    lapModel_->reset(analysed_ && analysed_->track ? lorvane::analyseLaps(*analysed_)
                                                   : lorvane::LapAnalysis{},
                     log.bestLap, log.bestLapTime);
    // Laid out now, so that the selected lap can be scrolled to at once, and
    // wide enough for every column.
    LapTable->doItemsLayout();
    fitLapTable();
    const lorvane::LapAnalysis& a = lapModel_->analysis();
    if (compareLap_ > static_cast<std::int32_t>(traces_.size())) compareLap_ = 0;

    CompareBox->clear();
    CompareBox->addItem(tr("Compare with..."), 0);
    for (const lorvane::LapSummary& l : a.laps)
        if (l.traced)
            CompareBox->addItem(
                tr("Lap %1: %2").arg(l.lap).arg(text(lorvane::convertRealtoUTC(l.time))), l.lap);

    QStringList holders;
    for (int k = 0; k < static_cast<int>(a.table.best.size()); ++k) {
        const auto& b = a.table.best[static_cast<std::size_t>(k)];
        holders << (b ? tr("S%1 lap %2 (%3)").arg(k + 1).arg(b->lap).arg(seconds(b->time))
                      : tr("S%1 none").arg(k + 1));
    }
    if (a.laps.empty()) {
        BestLabel->clear();
    } else if (a.table.theoreticalBest) {
        BestLabel->setText(tr("Theoretical best: %1 (%2)")
                               .arg(text(lorvane::convertRealtoUTC(*a.table.theoreticalBest)),
                                    holders.join(QStringLiteral(", "))));
    } else {
        BestLabel->setText(tr("Theoretical best: none, a sector has no time (%1)")
                               .arg(holders.join(QStringLiteral(", "))));
    }
    // The list's lines may have grown wider (lap 1000 on).
    layoutClient(centralWidget()->size());
    // The table's height as it will be under the new best line, for the
    // scroll to the selected lap.
    if (QLayout* l = LapDock->widget()->layout()) l->activate();
    showLapTraces();
}

void TForm1::compareWith(std::int32_t lap) {
    compareLap_ = lap;
    showLapTraces();
}

void TForm1::showLapTraces() {
    const auto ref = traceOf(selectedLap());
    auto cmp = compareLap_ != selectedLap() ? traceOf(compareLap_) : nullptr;
    if (!ref) cmp.reset();
    Chart2->setLaps(ref, cmp);
    if (actExportCsv) actExportCsv->setEnabled(ref != nullptr);
    if (actExportGpx) actExportGpx->setEnabled(ref != nullptr);
    auto path = [](const std::shared_ptr<const lorvane::LapTrace>& t) {
        std::vector<lorvane::LocalPoint> p;
        if (!t) return p;
        p.reserve(t->points.size());
        for (const lorvane::TracePoint& q : t->points)
            p.push_back(lorvane::LocalPoint{q.east, q.north});
        return p;
    };
    Chart1->setLapPaths(path(ref), path(cmp));
    const int index = CompareBox->findData(cmp ? cmp->lap : 0);
    CompareBox->setCurrentIndex(std::max(0, index));
    if (lapModel_->rowCount() > 0 && ref && ref->lap <= lapModel_->rowCount()) {
        const QSignalBlocker quiet(LapTable);
        LapTable->selectRow(ref->lap - 1);
        // Into view, well inside it: the table may yet lose a few pixels.
        const QModelIndex at = lapModel_->index(ref->lap - 1, 0);
        if (!LapTable->viewport()->rect().contains(LapTable->visualRect(at)))
            LapTable->scrollTo(at, QAbstractItemView::PositionAtCenter);
    }
    // Another lap, or another lap compared: what the cursor read out was
    // about the laps before.
    const std::int32_t shown = ref ? ref->lap : 0, compared = cmp ? cmp->lap : 0;
    if (shown != shownLap_ || compared != shownCompare_) {
        shownLap_ = shown;
        shownCompare_ = compared;
        Chart2->setCursorDistance(std::nullopt);
        clearHoverText();
    }
    markCursor(Chart2->cursorDistance());
}

void TForm1::showHoverText(const QString& hover) {
    if (hoverText_.isEmpty() || StatusLabel->text() != hoverText_)
        beforeHover_ = StatusLabel->text();
    hoverText_ = hover;
    StatusLabel->setText(hover);
}

void TForm1::clearHoverText() {
    if (!hoverText_.isEmpty() && StatusLabel->text() == hoverText_)
        StatusLabel->setText(beforeHover_);
    hoverText_.clear();
    beforeHover_.clear();
}

void TForm1::markCursor(std::optional<double> distance) {
    const lorvane::LapTrace* ref = Chart2->reference();
    if (!distance || !ref) {
        Chart1->setCursorPoint(std::nullopt);
        return;
    }
    Chart1->setCursorPoint(lorvane::positionAtDistance(*ref, *distance));
}

void TForm1::onChartCursor(std::optional<double> distance) {
    markCursor(distance);
    if (distance) showHoverText(Chart2->cursorText());
}

void TForm1::onTrackMouse(QMouseEvent* event) {
    const lorvane::LapTrace* ref = Chart2->reference();
    if (!ref || event->buttons() != Qt::NoButton) return;
    // The nearest point of the selected lap to the mouse, within 20 pixels.
    const QPointF pos = event->position();
    double bestPx = 20.0 * 20.0;
    std::optional<std::size_t> best;
    for (std::size_t i = 0; i < ref->points.size(); ++i) {
        const lorvane::TracePoint& p = ref->points[i];
        const double dx = Chart1->xAxis->coordToPixel(p.east) - pos.x();
        const double dy = Chart1->yAxis->coordToPixel(p.north) - pos.y();
        const double d2 = dx * dx + dy * dy;
        if (d2 < bestPx) {
            bestPx = d2;
            best = i;
        }
    }
    const std::optional<double> at = best ? std::optional<double>(ref->points[*best].distance)
                                          : std::nullopt;
    if (at == Chart2->cursorDistance()) return;
    Chart2->setCursorDistance(at);
    markCursor(at);
    if (at) showHoverText(Chart2->cursorText());
}

void TForm1::exportLap(bool gpx) {
    if (loading()) return;
    const auto lap = traceOf(selectedLap());
    if (!lap || !analysed_) return;
    const QString initial = QStringLiteral("lap%1.%2")
                                .arg(lap->lap)
                                .arg(gpx ? QStringLiteral("gpx") : QStringLiteral("csv"));
    const auto path = prompts_.saveFile(this,
                                        gpx ? tr("Export lap %1 as GPX").arg(lap->lap)
                                            : tr("Export lap %1 as CSV").arg(lap->lap),
                                        initial);
    if (!path) return;
    std::string bytes;
    if (gpx) {
        const lorvane::Lap* l = analysed_->lap(lap->lap);
        const auto crossings = l ? lorvane::findLapCrossings(analysed_->crossings, *l)
                                 : std::nullopt;
        const double start = crossings ? crossings->open->time : 0.0;
        bytes = lorvane::lapGpx(*lap, analysed_->plane, start, "1970-01-01",
                                "Lap " + std::to_string(lap->lap) + " of " +
                                    QFileInfo(fromPath(analysed_->path)).fileName().toStdString());
    } else {
        bytes = lorvane::lapCsv(*lap, analysed_->plane);
    }
    try {
        lorvane::writeFileAtomically(toPath(*path), bytes);
    } catch (const lorvane::LoadError& e) {
        showError(e.diagnostic());
        return;
    } catch (const std::exception& e) {
        showError(diagnostic(e.what()));
        return;
    }
    StatusLabel->setText(
        tr("Lap %1 written to %2.").arg(lap->lap).arg(QFileInfo(*path).fileName()));
}
