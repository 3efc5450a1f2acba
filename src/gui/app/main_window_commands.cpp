// The main window's commands: each asks the user what it needs, calls the
// workspace and draws the snapshot that comes back.
#include <QApplication>
#include <QCheckBox>
#include <QFile>
#include <QFileInfo>
#include <QProgressBar>
#include <QPushButton>

#include "formats/any_log.h"
#include "formats/log_formats.h"
#include "gui/app/Unit1.h"
#include "gui/app/gate_rules_dialog.h"
#include "gui/common/prompts.h"
#include "gui/dbtools/circuit_store.h"
#include "gui/display/track_plot.h"
#include "laps/lap_time_text.h"

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

using Folder = lorvane::app::AppSettings::Folder;

} // namespace

template <class Command>
bool TForm1::run(Command&& command) {
    try {
        command();
    } catch (const lorvane::LoadError& e) {
        draw();
        showError(e.diagnostic());
        return false;
    } catch (const std::exception& e) {
        draw();
        lorvane::Diagnostic d;
        d.message = e.what();
        showError(d);
        return false;
    }
    ownStatus_ = false;
    draw();
    return true;
}

void TForm1::showError(const lorvane::Diagnostic& d) {
    QString message = text(d.message);
    const std::string where = d.where();
    if (!where.empty()) message += u'\n' + fromPath(where);
    prompts_.error(this, message);
}

// --- start/finish line file ---------------------------------------------------------

void TForm1::LoadGXRClick() {
    if (loading()) return;
    const auto path = askFile(Folder::StartFinish, false,
                              QStringLiteral("Pick .gxr file containing start/finish line"),
                              QStringLiteral("*.gxr"));
    if (!path) {
        // A cancelled dialog still lets the logs be loaded.
        run([this] { workspace_.enableLogLoads(); });
        return;
    }
    loadStartFinish(*path);
}

void TForm1::loadStartFinish(const QString& path) {
    lorvane::StartFinishReport r;
    run([&] { r = workspace_.loadStartFinish(toPath(path)); });
    if (r.nameRejected) {
        prompts_.error(this, StatusLabel->text() + u'\n' + path);
    } else if (!r.ok) {
        showError(r.error);
    }
}

void TForm1::enableLogLoadsIfCircuits() {
    run([this] { workspace_.enableLogLoadsIfCircuits(); });
}

void TForm1::setCircuitDbPath(const std::string& path) {
    workspace_.setCircuitDbPath(path);
    enableLogLoadsIfCircuits();
}

// --- logs ---------------------------------------------------------------------------

void TForm1::LoadZLGClick() {
    if (loading() || !snapshot().logLoadsEnabled) return;
    const auto path = askFile(Folder::Log, false, QStringLiteral("Pick .zlg file "),
                              QStringLiteral("*.zlg;"));
    if (!path) {
        closeAfterCancel();
        return;
    }
    startLoad(lorvane::LogKind::Text, *path);
}

void TForm1::loadwmxClick() {
    if (loading() || !snapshot().logLoadsEnabled) return;
    const auto path = askFile(Folder::Log, false, QStringLiteral("Pick .wmx file "),
                              QStringLiteral("*.wmx;"));
    if (!path) {
        closeAfterCancel();
        return;
    }
    startLoad(lorvane::LogKind::Binary, *path);
}

void TForm1::LoadLogClick() {
    if (loading() || !snapshot().logLoadsEnabled) return;
    const auto path = askFile(Folder::Log, false, tr("Pick a log file"),
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

// A cancelled log dialog still ends like a load: the hints show and the axes
// keep their limits from now on. The previous load's laps, track and markers
// stay.
void TForm1::closeAfterCancel() {
    DoubleClickLabel->show();
    DoubleClickLabel2->show();
    Chart1->fixAxes();
}

void TForm1::startLoad(lorvane::LogKind kind, const QString& path) {
    if (busy()) return;
    // A file that is plainly not of this kind (a text log given as a binary
    // one, say) is refused here, while the loaded session is still shown.
    try {
        lorvane::checkLogFile(kind, toPath(path));
    } catch (const lorvane::LoadError& e) {
        showError(e.diagnostic());
        return;
    }
    // A file has been chosen: the lap list and the track start afresh.
    workspace_.loadStarting(toPath(path));
    // A binary record is at least 33 bytes; a text log's line rarely under 30.
    const auto bytes = static_cast<std::size_t>(std::max<qint64>(QFileInfo(path).size(), 0));
    Chart1->clearTrack(bytes / (kind == lorvane::LogKind::Binary ? 33 : 30));
    FileNameLabel->setText(path);
    FileNameLabel->adjustSize();
    if (!worker_.start(kind, toPath(path))) return;
    setLoading(true);
    ownStatus_ = false;
    draw();
}

void TForm1::onLoadFinished(const lorvane::LoadReport& report,
                            std::shared_ptr<const lorvane::LogView> view) {
    setLoading(false);
    if (report.ok) {
        // The closing steps: hints, fitted axes.
        DoubleClickLabel->show();
        DoubleClickLabel2->show();
        Chart1->fixAxes();
        Chart1->fitTo(report.extent);
    }
    run([&] { workspace_.loadEnded(report, std::move(view)); });
    if (report.ok && snapshot().log()) rememberRecentLog(fromPath(snapshot().log()->path));
    if (!report.ok && !report.cancelled) showError(report.error);
    if (report.ok && (!snapshot().hasStartFinish || snapshot().circuitFromDb))
        findCircuitForLoaded();
    emit loadEnded(report);
}

// --- gate rules ------------------------------------------------------------------------

void TForm1::editGateRules() {
    if (loading()) return;
    lorvane::app::GateRulesDialog dialog(snapshot().rules, this);
    if (dialog.exec() != QDialog::Accepted) return;
    applyGateRules(dialog.rules());
}

void TForm1::applyGateRules(const lorvane::GateRules& rules) {
    if (loading()) return;
    if (run([&] { workspace_.setRules(rules); }) && settings_) settings_->setGateRules(rules);
}

// --- lap choice and reference file ---------------------------------------------------

void TForm1::LapTimeBoxDblClick() {
    if (busy()) return;
    // The selected line: a current row without a selection names no lap.
    const QList<QListWidgetItem*> selected = LapTimeBox->selectedItems();
    if (selected.isEmpty()) return;
    const std::int32_t lap = LapTimeBox->row(selected.constFirst()) + 1;
    const auto log = snapshot().view ? snapshot().view->log : nullptr;
    const lorvane::Lap* chosen = log ? log->lap(lap) : nullptr;
    if (!chosen) return;

    const QString prompt = QStringLiteral("Use lap ") + QString::number(lap) +
                           QStringLiteral(" : ") + text(lorvane::convertRealtoUTC(chosen->time)) +
                           QStringLiteral(" ?");
    if (!prompts_.confirm(this, QStringLiteral("Warning"), prompt)) return;

    // The lap is read again from its file off this thread; the controls wait.
    if (!worker_.startPick(log, lap)) return;
    workspace_.session().setChosenLap(lap);
    pickLog_ = log;
    setLoading(true);
    ProgressBar->setRange(0, 0); // just busy: a lap is read in a moment
    StatusLabel->setText(tr("Reading lap %1 ...").arg(lap));
    ownStatus_ = true;
}

void TForm1::onPicked(const lorvane::ReferenceLap& ref) {
    setLoading(false);
    ownStatus_ = false;
    draw();
    saveLapRefFile(ref);
    pickLog_.reset();
}

void TForm1::onPickFailed(const lorvane::Diagnostic& error) {
    setLoading(false);
    ownStatus_ = false;
    draw();
    pickLog_.reset();
    showError(error);
}

void TForm1::saveLapRefFile(const lorvane::ReferenceLap& ref) {
    const auto path = askFile(Folder::ReferenceSave, true,
                              QStringLiteral("Enter filename for Reference file"),
                              QStringLiteral("LAP.REF"));
    if (!path) return;
    const bool fixed = FixRefCheckBox->isChecked();
    if (run([&] { workspace_.saveLapRefFile(*pickLog_, ref, toPath(*path), fixed); }))
        prompts_.inform(this, lorvane::app::programTitle(), QStringLiteral("File created OK"));
}

void TForm1::exportLap(bool gpx) {
    if (loading()) return;
    const auto& lap = snapshot().selected;
    if (!lap) return;
    const QString initial = QStringLiteral("lap%1.%2")
                                .arg(lap->lap)
                                .arg(gpx ? QStringLiteral("gpx") : QStringLiteral("csv"));
    const auto path = askFile(Folder::Export, true,
                              gpx ? tr("Export lap %1 as GPX").arg(lap->lap)
                                  : tr("Export lap %1 as CSV").arg(lap->lap),
                              initial);
    if (!path) return;
    std::int32_t written = 0;
    if (!run([&] { written = workspace_.exportLap(toPath(*path), gpx, units_); })) return;
    StatusLabel->setText(tr("Lap %1 written to %2.").arg(written).arg(QFileInfo(*path).fileName()));
    ownStatus_ = true;
}

void TForm1::compareWith(std::int32_t lap) {
    run([&] { workspace_.compareWith(lap); });
}

// --- the circuit database and lines placed on the map ----------------------------------

void TForm1::findCircuitForLoaded() {
    const lorvane::LoadedLog* log = snapshot().log();
    if (!log || !log->track || !log->hasBase) return;
    // Asked here so that a damaged or newer database is told as the user expects.
    if (!lorvane::dbtools::openCircuitDb(workspace_.circuitDbPath(), prompts_, this)) return;
    std::vector<lorvane::CircuitMatch> matches;
    if (!run([&] { matches = workspace_.findCircuits(); })) return;
    if (matches.empty()) {
        const std::string none = "No circuit in the database matches this log: load its "
                                 "start/finish line file (.gxr).";
        run([&] { workspace_.noteStatus(none); });
        prompts_.inform(this, lorvane::app::programTitle(), text(none));
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
            run([&] {
                workspace_.noteStatus("no circuit chosen: load a start/finish line file (.gxr)");
            });
            return;
        }
        pick = static_cast<std::size_t>(*chosen);
    }
    run([&] { workspace_.useCircuit(matches[pick].circuit); });
}

void TForm1::setPlaceMode(PlaceMode mode) {
    placeMode_ = mode;
    Chart1->setPlacing(mode != PlaceMode::None);
    actPlaceStart->setChecked(mode == PlaceMode::Start);
    actPlaceFinish->setChecked(mode == PlaceMode::Finish);
    actAddSplit->setChecked(mode == PlaceMode::Split);
    if (mode != PlaceMode::None) {
        StatusLabel->setText(mode == PlaceMode::Split
                                 ? tr("Click the track where the split line goes.")
                                 : tr("Click the track where the line goes; it counts the "
                                      "direction of travel there as forward."));
        ownStatus_ = true;
    }
}

// A command that places or moves a line whose LoadError is only a word for
// the status bar (no log yet, or no track where the user clicked).
void TForm1::placeLineAt(const lorvane::LocalPoint& point) {
    const PlaceMode mode = placeMode_;
    setPlaceMode(PlaceMode::None);
    if (mode == PlaceMode::None || busy()) return;
    const lorvane::LineKind kind = mode == PlaceMode::Start    ? lorvane::LineKind::Start
                                   : mode == PlaceMode::Finish ? lorvane::LineKind::Finish
                                                               : lorvane::LineKind::Split;
    try {
        workspace_.placeLine(kind, point);
    } catch (const lorvane::LoadError& e) {
        StatusLabel->setText(text(e.diagnostic().message));
        ownStatus_ = true;
        return;
    }
    ownStatus_ = false;
    draw();
}

void TForm1::moveLineTo(int handle, const lorvane::LocalPoint& point) {
    if (busy()) return;
    try {
        workspace_.moveLine(handle, point);
    } catch (const lorvane::LoadError& e) {
        StatusLabel->setText(text(e.diagnostic().message));
        ownStatus_ = true;
        draw();
        return;
    }
    ownStatus_ = false;
    draw();
}

void TForm1::removeFinishLine() {
    if (loading() || !snapshot().startFinish.gates.hasFinishLine) return;
    run([this] { workspace_.removeFinishLine(); });
}

void TForm1::removeSplitLine() {
    const std::size_t n = snapshot().startFinish.splits.size();
    if (loading() || n == 0) return;
    std::size_t index = 0;
    if (n > 1) {
        QStringList items;
        for (std::size_t k = 0; k < n; ++k)
            items << tr("Split line %1 (ends sector %1)").arg(k + 1);
        const auto chosen = prompts_.choose(this, tr("Remove split line"),
                                            tr("Which split line goes?"), items);
        if (!chosen || *chosen < 0 || static_cast<std::size_t>(*chosen) >= n) return;
        index = static_cast<std::size_t>(*chosen);
    }
    run([&] { workspace_.removeSplitLine(index); });
}

void TForm1::saveStartFinishFile() {
    if (busy()) return;
    if (!snapshot().hasStartFinish) {
        StatusLabel->setText(tr("There are no start/finish lines to save."));
        ownStatus_ = true;
        return;
    }
    const auto path = askFile(Folder::StartFinish, true, tr("Save start/finish file"),
                              QStringLiteral("circuit.gxr"));
    if (!path) return;
    run([&] { workspace_.saveStartFinishFile(toPath(*path)); });
}

// --- a reference file read back -------------------------------------------------------

void TForm1::openReferenceFile() {
    if (busy()) return;
    const auto path = askFile(Folder::ReferenceOpen, false, tr("Open reference file"),
                              QStringLiteral("*.REF *.ref"));
    if (!path) return;
    run([&] { workspace_.openReferenceFile(toPath(*path)); });
}

void TForm1::closeReferenceFile() {
    run([this] { workspace_.closeReferenceFile(); });
}

// --- stored sessions ----------------------------------------------------------------------

void TForm1::openStoredSession(const lorvane::StoredSession& stored) {
    if (busy()) return;
    if (!run([&] { workspace_.useStoredSession(stored); })) return;
    startLoad(stored.kind, fromPath(stored.path));
}

void TForm1::useStoredLap(const lorvane::StoredSession& stored, std::int32_t lap, bool asCompared) {
    if (busy()) return;
    QApplication::setOverrideCursor(Qt::BusyCursor);
    run([&] { workspace_.useStoredLap(stored, lap, asCompared); });
    QApplication::restoreOverrideCursor();
}

void TForm1::writeStoredLapRefFile(const lorvane::StoredSession& stored, std::int32_t lap) {
    if (busy()) return;
    const auto path = askFile(Folder::ReferenceSave, true,
                              QStringLiteral("Enter filename for Reference file"),
                              QStringLiteral("LAP.REF"));
    if (!path) return;
    QApplication::setOverrideCursor(Qt::BusyCursor);
    const bool ok = run([&] {
        lorvane::writeStoredLapRefFile(stored, lap, toPath(*path), FixRefCheckBox->isChecked());
    });
    QApplication::restoreOverrideCursor();
    if (ok) prompts_.inform(this, lorvane::app::programTitle(), QStringLiteral("File created OK"));
}
