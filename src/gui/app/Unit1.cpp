#include "gui/app/Unit1.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QDockWidget>
#include <QHeaderView>
#include <QTableWidget>
#include <QVBoxLayout>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFile>
#include <QFileInfo>
#include <QKeyEvent>
#include <QLabel>
#include <QMenuBar>
#include <QMimeData>
#include <QProgressBar>
#include <QPushButton>
#include <QSignalBlocker>
#include <QStatusBar>
#include <QStyle>
#include <QUrl>

#include <qcustomplot.h>

#include "gui/app/gate_rules_dialog.h"
#include "gui/common/prompts.h"
#include "gui/common/window_style.h"
#include "gui/dbtools/uAddCountryForm.h"
#include "gui/dbtools/uAddToDataBase.h"
#include "gui/dbtools/circuit_store.h"
#include "gui/dbtools/uCircuitsForm.h"
#include "gui/display/lap_chart.h"
#include "gui/display/track_plot.h"
#include "analysis/lap_export.h"
#include "laps/lap_time_text.h"
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

// Where the design puts what lies below the chart, measured from the bottom
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

    resize(kClientWidth + LapDock->sizeHint().width() + style()->pixelMetric(QStyle::PM_DockWidgetSeparatorExtent),
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
    Label10 = makeLabel(client, "Label10", QStringLiteral("V1.5"), 728, 600, 0);
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
    // As designed, but never narrower than its caption in the desktop's font.
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
    file->addSeparator();
    actQuit = file->addAction(tr("&Quit"), this, &QWidget::close);
    actQuit->setShortcut(QKeySequence::Quit);
    actLoadZLG->setEnabled(false);
    actLoadWmx->setEnabled(false);

    QMenu* lapsMenu = menuBar()->addMenu(tr("&Laps"));
    actGateRules = lapsMenu->addAction(tr("&Gate rules..."), this, &TForm1::editGateRules);

    QMenu* tools = menuBar()->addMenu(tr("&Tools"));
    actNewCountry = tools->addAction(tr("Create new &country..."), this, [this] {
        if (!addCountry_) return;
        addCountry_->show();
        addCountry_->raise();
        addCountry_->activateWindow();
    });
    actAddToDatabase = tools->addAction(tr("&Add to DataBase..."), this, [this] {
        if (!addToDatabase_) return;
        if (!session_.busy()) lorvane::dbtools::proposeLoadedCircuit(*addToDatabase_, session_, *Chart1);
        addToDatabase_->show();
        addToDatabase_->raise();
        addToDatabase_->activateWindow();
    });
    actCircuits = tools->addAction(tr("C&ircuits..."), this, [this] {
        if (circuits_) lorvane::dbtools::raiseWindow(circuits_);
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
    Chart1->setGeometry(chartLeft, kChartTop, chartWidth, h - kChartTop - kChartBottomGap - strip - kStripGap);
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
}

// --- start/finish line file ---------------------------------------------------------

void TForm1::LoadGXRClick() {
    if (loading()) return;
    const auto path = prompts_.openFile(
        this, QStringLiteral("Pick .gxr file containing start/finish line"), QStringLiteral("*.gxr"));
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
        StatusLabel->setText(session_.hasFinishLine()
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
}

// --- logs ---------------------------------------------------------------------------

void TForm1::LoadZLGClick() {
    if (loading() || !logLoadsEnabled_) return;
    const auto path = prompts_.openFile(this, QStringLiteral("Pick .zlg file "), QStringLiteral("*.zlg;"));
    if (!path) {
        closeAfterCancel();
        return;
    }
    startLoad(lorvane::LogKind::Text, *path);
}

void TForm1::loadwmxClick() {
    if (loading() || !logLoadsEnabled_) return;
    const auto path = prompts_.openFile(this, QStringLiteral("Pick .wmx file "), QStringLiteral("*.wmx;"));
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
    emit loadEnded(report);
}

QString TForm1::summary(const lorvane::LoadReport& r) const {
    QStringList parts;
    if (r.cancelled) return tr("Load cancelled.");
    parts << count(r.samples, "sample", "samples");
    parts << count(r.lapCount, "lap", "laps");
    if (r.bestLap > 0)
        parts << tr("fastest lap %1: %2").arg(r.bestLap).arg(text(lorvane::convertRealtoUTC(r.bestLapTime)));
    QStringList notes;
    if (!r.ok) notes << tr("stopped: %1").arg(text(r.error.message));
    if (r.ok && !r.hasBase) notes << tr("no base point (too few samples with four or more satellites)");
    if (r.resyncs > 0)
        notes << count(r.resyncs, "record", "records") + tr(" dropped by resynchronisation");
    if (r.shortRecords > 0) notes << tr("a short last record dropped");
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
    Chart1->highlightSamples(item->data(kFirstSampleRole).toInt(), item->data(kLastSampleRole).toInt());
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
    try {
        session_.recutLoaded();
    } catch (const lorvane::LoadError& e) {
        showError(e.diagnostic());
        return;
    }
    const auto log = session_.loaded();
    showLaps(*log);
    showGates(*log);
    StatusLabel->setText(summary(log->report));
    showSplitHint(*log);
}

void TForm1::showLaps(const lorvane::LoadedLog& log) {
    LapTimeBox->clear();
    for (const lorvane::Lap& lap : log.laps) {
        auto* item = new QListWidgetItem(text(lap.line), LapTimeBox);
        item->setData(kFirstSampleRole, lap.startSample);
        item->setData(kLastSampleRole, lap.endSample);
        item->setSizeHint(QSize(0, 13));
    }
    if (log.bestLap > 0 && log.bestLap <= LapTimeBox->count())
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
    Chart1->setGateLines(lorvane::track::gateLines(log.startFinish.gates, log.plane, log.rules));
}

void TForm1::showSplitHint(const lorvane::LoadedLog& log) {
    splitRemedy_.reset();
    SplitFixButton->hide();
    const auto split = lorvane::checkSplitLaps(log);
    if (!split) return;
    QStringList laps;
    for (std::int32_t n : split->laps) laps << QString::number(n);
    QString note = tr("Laps %1 look split: the track may cross a gate twice a lap.").arg(laps.join(QStringLiteral(", ")));
    if (split->remedy) {
        splitRemedy_ = split->remedy;
        QString fix = text(split->remedyText);
        if (!fix.isEmpty()) fix[0] = fix[0].toUpper();
        SplitFixButton->setText(fix);
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

    const QString prompt = QStringLiteral("Use lap ") + QString::number(lap) + QStringLiteral(" : ") +
                           text(lorvane::convertRealtoUTC(chosen->time)) + QStringLiteral(" ?");
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
                    tr("Lorvane V1.5\n\n"
                       "Makes a reference lap file from a GPS log of a circuit: load the "
                       "start/finish line file, then a text (.zlg) or binary (.wmx) log, and "
                       "double-click the lap to use."));
}

// --- closing, drag and drop ----------------------------------------------------------------

void TForm1::closeEvent(QCloseEvent* event) {
    if (loading()) {
        worker_.abandon();
        setLoading(false);
    }
    event->accept();
    emit closed();
}

namespace {

enum class DropKind { None, StartFinish, TextLog, BinaryLog };

DropKind kindOf(const QString& path) {
    const QString ext = QFileInfo(path).suffix().toLower();
    if (ext == u"gxr") return DropKind::StartFinish;
    if (ext == u"zlg") return DropKind::TextLog;
    if (ext == u"wmx") return DropKind::BinaryLog;
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
        } else if ((k == DropKind::TextLog || k == DropKind::BinaryLog) && log.isEmpty()) {
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
    startLoad(logKind == DropKind::TextLog ? lorvane::LogKind::Text : lorvane::LogKind::Binary, log);
}

// --- lap analysis: strip chart, lap against lap, lap table ----------------------------------

namespace {

QString seconds(double s) {
    return QString::number(s, 'f', 3);
}

QString signedSeconds(double s) {
    return (s >= 0 ? QStringLiteral("+") : QString()) + QString::number(s, 'f', 3);
}

} // namespace

void TForm1::buildAnalysisControls() {
    auto* client = centralWidget() ? centralWidget() : LoadGXR->parentWidget();
    Chart2->show();
    connect(Chart2, &lorvane::display::LapChart::cursorMoved, this, &TForm1::onChartCursor);
    connect(Chart1, &QCustomPlot::mouseMove, this, &TForm1::onTrackMouse);

    CompareBox = new QComboBox(client);
    CompareBox->setObjectName(QStringLiteral("CompareBox"));
    CompareBox->setToolTip(tr("Compare with: the lap drawn against the selected one (or Ctrl-click it in the list)"));
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
    LapTable = new QTableWidget(panel);
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
    panel->setMinimumWidth(360);
    addDockWidget(Qt::RightDockWidgetArea, LapDock);
    // File > Export lap as ..., above Quit.
    QMenu* file = actQuit->associatedObjects().isEmpty() ? nullptr : qobject_cast<QMenu*>(actQuit->associatedObjects().constFirst());
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
    // Choosing a lap in the table selects it in the list.
    connect(LapTable, &QTableWidget::cellClicked, this, [this](int row, int) {
        if (row >= 0 && row < LapTimeBox->count()) LapTimeBox->setCurrentRow(row);
    });
}

void TForm1::layoutStrip(int chartLeft, int chartWidth, int top, int height) {
    Chart2->setGeometry(chartLeft, top, chartWidth, height);
    if (CompareBox) CompareBox->setGeometry(8, top, chartLeft - 16, 24);
}

int TForm1::lapListWidth() const {
    int widest = 0;
    const QFontMetrics fm(LapTimeBox->font());
    // Every line has the same layout; the last has the widest lap number.
    for (int row : {0, LapTimeBox->count() - 1})
        if (const QListWidgetItem* item = row >= 0 ? LapTimeBox->item(row) : nullptr)
            widest = std::max(widest, fm.horizontalAdvance(item->text()));
    const int chrome = 2 * LapTimeBox->frameWidth() + LapTimeBox->style()->pixelMetric(QStyle::PM_ScrollBarExtent) + 8;
    return std::max(113, widest + chrome);
}

std::int32_t TForm1::selectedLap() const {
    const int row = LapTimeBox->currentRow();
    return row >= 0 ? row + 1 : 0;
}

std::shared_ptr<const lorvane::LapTrace> TForm1::traceOf(std::int32_t lap) {
    if (!analysed_ || !analysed_->track || lap < 1 || static_cast<std::size_t>(lap) > analysed_->laps.size())
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
    analysis_ = analysed_ && analysed_->track
                    ? lorvane::analyseLaps(*analysed_->track, analysed_->laps, analysed_->crossings)
                    : lorvane::LapAnalysis{};
    if (compareLap_ > static_cast<std::int32_t>(traces_.size())) compareLap_ = 0;

    CompareBox->clear();
    CompareBox->addItem(tr("Compare with..."), 0);
    for (const lorvane::LapSummary& l : analysis_.laps)
        if (l.traced) CompareBox->addItem(tr("Lap %1: %2").arg(l.lap).arg(text(lorvane::convertRealtoUTC(l.time))), l.lap);

    // The table: lap, time, delta to the fastest, sectors, top speed, distance.
    const int n = analysis_.sectorCount;
    QStringList headers{tr("Lap"), tr("Time"), tr("Delta")};
    for (int k = 1; k <= n; ++k) headers << tr("S%1").arg(k);
    headers << tr("Top km/h") << tr("Dist m");
    LapTable->clear();
    LapTable->setColumnCount(static_cast<int>(headers.size()));
    LapTable->setHorizontalHeaderLabels(headers);
    LapTable->setRowCount(static_cast<int>(analysis_.laps.size()));
    const double fastest = log.bestLapTime;
    const QColor bestColour(0xC8, 0xF0, 0xC8);
    for (int row = 0; row < static_cast<int>(analysis_.laps.size()); ++row) {
        const lorvane::LapSummary& l = analysis_.laps[static_cast<std::size_t>(row)];
        int col = 0;
        auto put = [&](const QString& value, bool best = false) {
            auto* item = new QTableWidgetItem(value);
            item->setTextAlignment(Qt::AlignRight | Qt::AlignVCenter);
            if (best) {
                QFont f = item->font();
                f.setBold(true);
                item->setFont(f);
                item->setBackground(bestColour);
                item->setToolTip(tr("Best of this sector"));
            }
            LapTable->setItem(row, col++, item);
        };
        put(QString::number(l.lap));
        put(text(lorvane::convertRealtoUTC(l.time)), l.lap == log.bestLap);
        put(l.lap == log.bestLap ? QString() : signedSeconds(l.time - fastest));
        for (int k = 0; k < n; ++k) {
            const auto& t = k < static_cast<int>(l.sectors.size()) ? l.sectors[static_cast<std::size_t>(k)]
                                                                   : std::optional<double>{};
            const auto& bests = analysis_.table.best;
            const bool best = t && static_cast<std::size_t>(k) < bests.size() && bests[static_cast<std::size_t>(k)] &&
                              bests[static_cast<std::size_t>(k)]->lap == l.lap;
            put(t ? seconds(*t) : QString(), best);
        }
        put(l.traced ? QString::number(l.maxSpeed, 'f', 1) : QString());
        put(l.traced ? QString::number(l.distance, 'f', 0) : QString());
    }

    QStringList holders;
    for (int k = 0; k < static_cast<int>(analysis_.table.best.size()); ++k) {
        const auto& b = analysis_.table.best[static_cast<std::size_t>(k)];
        holders << (b ? tr("S%1 lap %2 (%3)").arg(k + 1).arg(b->lap).arg(seconds(b->time))
                      : tr("S%1 none").arg(k + 1));
    }
    if (analysis_.laps.empty()) {
        BestLabel->clear();
    } else if (analysis_.table.theoreticalBest) {
        BestLabel->setText(tr("Theoretical best: %1 (%2)")
                               .arg(text(lorvane::convertRealtoUTC(*analysis_.table.theoreticalBest)),
                                    holders.join(QStringLiteral(", "))));
    } else {
        BestLabel->setText(tr("Theoretical best: none, a sector has no time (%1)").arg(holders.join(QStringLiteral(", "))));
    }
    // The list's lines may have grown wider (lap 1000 on).
    layoutClient(centralWidget()->size());
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
        for (const lorvane::TracePoint& q : t->points) p.push_back(lorvane::LocalPoint{q.east, q.north});
        return p;
    };
    Chart1->setLapPaths(path(ref), path(cmp));
    const int index = CompareBox->findData(cmp ? cmp->lap : 0);
    CompareBox->setCurrentIndex(std::max(0, index));
    if (LapTable->rowCount() > 0 && ref && ref->lap <= LapTable->rowCount()) {
        const QSignalBlocker quiet(LapTable);
        LapTable->selectRow(ref->lap - 1);
    }
    markCursor(Chart2->cursorDistance());
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
    if (distance) StatusLabel->setText(Chart2->cursorText());
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
    const std::optional<double> at = best ? std::optional<double>(ref->points[*best].distance) : std::nullopt;
    if (at == Chart2->cursorDistance()) return;
    Chart2->setCursorDistance(at);
    markCursor(at);
    if (at) StatusLabel->setText(Chart2->cursorText());
}

void TForm1::exportLap(bool gpx) {
    if (loading()) return;
    const auto lap = traceOf(selectedLap());
    if (!lap || !analysed_) return;
    const QString initial = QStringLiteral("lap%1.%2").arg(lap->lap).arg(gpx ? QStringLiteral("gpx") : QStringLiteral("csv"));
    const auto path = prompts_.saveFile(this, gpx ? tr("Export lap %1 as GPX").arg(lap->lap)
                                                   : tr("Export lap %1 as CSV").arg(lap->lap), initial);
    if (!path) return;
    std::string bytes;
    if (gpx) {
        const lorvane::Lap* l = analysed_->lap(lap->lap);
        const auto crossings = l ? lorvane::findLapCrossings(analysed_->crossings, *l) : std::nullopt;
        const double start = crossings ? crossings->open->time : 0.0;
        bytes = lorvane::lapGpx(*lap, analysed_->plane, start, "1970-01-01",
                                "Lap " + std::to_string(lap->lap) + " of " + QFileInfo(fromPath(analysed_->path)).fileName().toStdString());
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
    StatusLabel->setText(tr("Lap %1 written to %2.").arg(lap->lap).arg(QFileInfo(*path).fileName()));
}
