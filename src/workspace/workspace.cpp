#include "workspace/workspace.h"

#include <cmath>
#include <filesystem>
#include <utility>

#include "analysis/lap_export.h"
#include "formats/log_formats.h"
#include "laps/lap_time_text.h"
#include "reference/reference_file.h"

namespace lorvane {

namespace {

// "1 lap", "3 laps".
std::string count(std::int64_t n, const char* one, const char* many) {
    return std::to_string(n) + ' ' + (n == 1 ? one : many);
}

std::string join(const std::vector<std::string>& parts, const char* with) {
    std::string s;
    for (std::size_t i = 0; i < parts.size(); ++i) {
        if (i > 0) s += with;
        s += parts[i];
    }
    return s;
}

const char* const kDot = " \u00b7 ";
const char* const kDash = " \u2014 ";

std::string fileName(const std::string& path) {
    return std::filesystem::path(path).filename().string();
}

} // namespace

std::shared_ptr<const LogView> makeLogView(std::shared_ptr<const LoadedLog> log, bool analyse) {
    auto v = std::make_shared<LogView>();
    v->log = std::move(log);
    if (!v->log) return v;
    const LoadedLog& l = *v->log;
    if (l.track && analyse) v->analysis = analyseLaps(l);
    if (analyse && l.report.ok && splitLaps(l.laps)) {
        v->split = checkSplitLaps(l);
        if (!v->split) v->split = SplitLaps{*splitLaps(l.laps), std::nullopt, {}};
    }
    if (!l.hasBase) return v;
    // The gates as drawn: start and finish with the rules' arrows, then the
    // split lines.
    v->gateLines = track::gateLines(l.startFinish.gates, l.plane, l.rules);
    for (const Gate& g : l.startFinish.splits) {
        StartFinish one;
        one.start = g;
        for (const track::GateLine& line : track::gateLines(one, l.plane, GateRules{})) v->gateLines.push_back(line);
    }
    const StartFinish& gates = l.startFinish.gates;
    if (gates.start.lat1 != 0)
        v->gateHandles.push_back(l.plane.toLocal(gates.start.lat1, gates.start.long1));
    else if (gates.hasFinishLine || !l.startFinish.splits.empty())
        v->gateHandles.push_back(LocalPoint{std::nan(""), std::nan("")}); // no start line to drag
    if (gates.hasFinishLine) v->gateHandles.push_back(l.plane.toLocal(gates.finish.lat1, gates.finish.long1));
    for (const Gate& g : l.startFinish.splits) v->gateHandles.push_back(l.plane.toLocal(g.lat1, g.long1));
    return v;
}

std::string remedyCaption(const SplitLaps& split, const GateRules& inForce) {
    if (!split.remedy) return {};
    const GateRules& r = *split.remedy;
    if (r.direction != inForce.direction)
        return r.direction == GateDirection::Forward ? "Count forward crossings only" : "Count reverse crossings only";
    return "Ignore laps under " + std::to_string(static_cast<long long>(r.minLap)) + " s";
}

Workspace::Workspace(Session& session) : session_(session) {
    Snapshot s;
    s.status = "Load a start/finish line file to begin.";
    s.rules = session_.gateRules();
    snapshot_ = std::make_shared<const Snapshot>(std::move(s));
}

void Workspace::publish(Snapshot s) {
    s.startFinish = session_.startFinish();
    s.hasStartFinish = session_.hasStartFinish();
    s.rules = session_.gateRules();
    snapshot_ = std::make_shared<const Snapshot>(std::move(s));
}

// --- the circuit database ----------------------------------------------------------

void Workspace::setCircuitDbPath(std::string path) {
    if (path != circuitDbPath_) library_.reset();
    circuitDbPath_ = std::move(path);
}

bool Workspace::circuitsAvailable() const {
    const std::string path = circuitDbPath_.empty() ? defaultCircuitDbPath() : circuitDbPath_;
    std::error_code ec;
    // Asking is no reason to create the database.
    if (!std::filesystem::exists(path, ec)) return false;
    try {
        return !CircuitDb::open(path).circuits().empty();
    } catch (const LoadError&) {
        return false; // reported when a load looks its circuit up
    }
}

const Snapshot& Workspace::enableLogLoadsIfCircuits() {
    if (!snapshot_->logLoadsEnabled && circuitsAvailable()) {
        Snapshot s = next();
        s.logLoadsEnabled = true;
        publish(std::move(s));
    }
    return *snapshot_;
}

const Snapshot& Workspace::enableLogLoads() {
    if (!snapshot_->logLoadsEnabled) {
        Snapshot s = next();
        s.logLoadsEnabled = true;
        publish(std::move(s));
    }
    return *snapshot_;
}

// --- the start/finish lines --------------------------------------------------------

StartFinishReport Workspace::loadStartFinish(const std::string& path) {
    const StartFinishReport r = session_.loadStartFinish(path);
    Snapshot s = next();
    if (r.nameRejected) {
        startFinishNote_ = fileName(path) + " was not read: its path contains neither \"gxr\" nor \"GXR\"";
        s.status = startFinishNote_;
    } else if (r.ok) {
        startFinishNote_.clear();
        s.circuitFromDb = false;
        s.linesUnsaved = false;
        rulesBeforeFinish_.reset();
        s.status = "Start/finish line file " + fileName(path) + " read" +
                   (session_.hasFinishLine() ? " (with a finish line)." : ".");
    }
    if (r.enableLogLoads()) s.logLoadsEnabled = true;
    publish(std::move(s));
    // A log already loaded is cut at the new gates at once.
    if (r.ok && snapshot_->log() && snapshot_->log()->track) recut();
    return r;
}

std::string Workspace::saveStartFinishFile(std::string path) {
    if (!session_.hasStartFinish()) fail(ErrorKind::Invalid, "There are no start/finish lines to save.");
    // The name test the loader applies.
    if (!passesGxrNameTest(path)) path += ".gxr";
    lorvane::saveStartFinishFile(session_.startFinish(), path);
    // The saved file is in force from now on, as if it had been loaded.
    const StartFinishReport r = session_.loadStartFinish(path);
    if (!r.ok) throw LoadError(r.error);
    Snapshot s = next();
    s.circuitFromDb = false;
    s.linesUnsaved = false;
    rulesBeforeFinish_.reset();
    startFinishNote_ = "start/finish lines saved as " + fileName(path);
    s.status = startFinishNote_;
    publish(std::move(s));
    if (snapshot_->log() && snapshot_->log()->track) recut();
    return path;
}

std::optional<Gate> Workspace::gateNear(LocalPoint at) const {
    const LoadedLog* log = snapshot_->log();
    if (!log || !log->track || !log->hasBase) fail(ErrorKind::Invalid, "Load a log before placing lines on the map.");
    const auto index = track::nearestTrackSample(*log->track, at);
    const auto gate = index ? track::gateAtTrackPoint(*log->track, *index, log->plane) : std::nullopt;
    if (!gate) fail(ErrorKind::Invalid, "The track does not move there: place the line elsewhere.");
    return gate;
}

const Snapshot& Workspace::placeLine(LineKind kind, LocalPoint at) {
    const Gate gate = *gateNear(at);
    StartFinishFile file = session_.startFinish();
    switch (kind) {
    case LineKind::Start: file.gates.start = gate; break;
    case LineKind::Finish:
        if (!file.gates.hasFinishLine) rulesBeforeFinish_ = session_.gateRules();
        file.gates.finish = gate;
        file.gates.hasFinishLine = true;
        break;
    case LineKind::Split: file.splits.push_back(gate); break;
    }
    return putLines(std::move(file), std::nullopt);
}

const Snapshot& Workspace::moveLine(int handle, LocalPoint at) {
    if (handle < 0 || !session_.hasStartFinish()) return *snapshot_;
    StartFinishFile file = session_.startFinish();
    const std::size_t finishes = file.gates.hasFinishLine ? 1 : 0;
    const auto h = static_cast<std::size_t>(handle);
    if (h >= 1 + finishes + file.splits.size()) return *snapshot_;
    const Gate gate = *gateNear(at);
    if (h == 0)
        file.gates.start = gate;
    else if (h == finishes)
        file.gates.finish = gate;
    else
        file.splits[h - 1 - finishes] = gate;
    return putLines(std::move(file), std::nullopt);
}

const Snapshot& Workspace::removeFinishLine() {
    if (!session_.hasFinishLine()) return *snapshot_;
    StartFinishFile file = session_.startFinish();
    file.gates.finish = Gate{};
    file.gates.hasFinishLine = false;
    // The rules the laps were cut with before the line (a direction chosen
    // for the laps it split means nothing without it).
    const auto rules = std::exchange(rulesBeforeFinish_, std::nullopt);
    return putLines(std::move(file), rules);
}

const Snapshot& Workspace::removeSplitLine(std::size_t index) {
    StartFinishFile file = session_.startFinish();
    if (index >= file.splits.size()) return *snapshot_;
    file.splits.erase(file.splits.begin() + static_cast<std::ptrdiff_t>(index));
    return putLines(std::move(file), std::nullopt);
}

const Snapshot& Workspace::putLines(StartFinishFile file, const std::optional<GateRules>& rules) {
    StartFinishFile placed = startFinishFromGates(file.gates, "lines placed on the map");
    placed.splits = std::move(file.splits);
    session_.setStartFinish(std::move(placed));
    if (rules) session_.setGateRules(*rules);
    Snapshot s = next();
    s.linesUnsaved = true;
    s.circuitFromDb = false;
    s.logLoadsEnabled = true;
    startFinishNote_ = "lines placed on the map";
    publish(std::move(s));
    if (snapshot_->log() && snapshot_->log()->track) recut();
    return *snapshot_;
}

// --- loads -------------------------------------------------------------------------

const Snapshot& Workspace::loadStarting(const std::string& path) {
    Snapshot s = next();
    s.view.reset();
    s.selectedLap = s.comparedLap = 0;
    s.selected.reset();
    s.compared.reset();
    traces_.clear();
    s.status = "Reading " + fileName(path) + " ...";
    publish(std::move(s));
    return *snapshot_;
}

const Snapshot& Workspace::loadEnded(const LoadReport& report, std::shared_ptr<const LogView> view) {
    if (!view || !view->log) view = makeLogView(session_.loaded(), analyse_);
    if (!report.ok && view->log) {
        // A load that stopped shows the laps it found, but no analysis of them.
        auto stopped = std::make_shared<LogView>(*view);
        stopped->analysis = LapAnalysis{};
        stopped->split.reset();
        view = std::move(stopped);
    }
    adopt(view, 0);
    Snapshot s = next();
    s.status = report.ok && view->log ? statusOf(*view) : summary(report);
    // A rejected start/finish file is told once, in the summary of the load after it.
    startFinishNote_.clear();
    publish(std::move(s));
    return *snapshot_;
}

const Snapshot& Workspace::loadLogNow(LogKind kind, const std::string& path) {
    loadStarting(path);
    SessionObserver quiet;
    const LoadReport report = session_.loadLog(kind, path, quiet);
    return loadEnded(report, makeLogView(session_.loaded(), analyse_));
}

const Snapshot& Workspace::recut() {
    const std::int32_t keep = snapshot_->selectedLap;
    session_.recutLoaded();
    adopt(makeLogView(session_.loaded(), analyse_), keep);
    Snapshot s = next();
    s.status = statusOf(*s.view);
    publish(std::move(s));
    return *snapshot_;
}

const Snapshot& Workspace::setRules(const GateRules& rules) {
    session_.setGateRules(rules);
    if (snapshot_->log() && snapshot_->log()->track) return recut();
    publish(next());
    return *snapshot_;
}

const Snapshot& Workspace::adopt(std::shared_ptr<const LogView> view, std::int32_t keepLap) {
    Snapshot s = next();
    s.view = std::move(view);
    traces_.assign(s.view && s.view->log ? s.view->log->laps.size() : 0, nullptr);
    const LoadedLog* log = s.log();
    const auto laps = log ? static_cast<std::int32_t>(log->laps.size()) : 0;
    // The lap that was selected stays so when it is still there; else the fastest.
    if (keepLap > 0 && keepLap <= laps)
        s.selectedLap = keepLap;
    else if (log && log->bestLap > 0 && log->bestLap <= laps)
        s.selectedLap = log->bestLap;
    else
        s.selectedLap = 0;
    if (s.comparedLap > laps) s.comparedLap = 0;
    snapshot_ = std::make_shared<const Snapshot>(std::move(s));
    Snapshot t = next();
    try {
        placeReference(t);
    } catch (const LoadError&) {
        // Another circuit's log: the lap from outside no longer applies.
        reference_.reset();
        placeReference(t);
    }
    t.selected = traceOf(t.selectedLap);
    t.compared = t.selected && t.comparedLap != t.selectedLap ? traceOf(t.comparedLap) : nullptr;
    publish(std::move(t));
    return *snapshot_;
}

// --- the circuit lookup -------------------------------------------------------------

std::vector<CircuitMatch> Workspace::findCircuits() const {
    const LoadedLog* log = snapshot_->log();
    if (!log || !log->track || !log->hasBase) return {};
    const CircuitDb db = CircuitDb::open(circuitDbPath_.empty() ? defaultCircuitDbPath() : circuitDbPath_);
    return db.findCircuitsForTrack(*log->track, log->plane, log->kind, session_.gateRules());
}

const Snapshot& Workspace::useCircuit(const Circuit& circuit) {
    session_.setStartFinish(circuitStartFinish(circuit));
    session_.setGateRules(circuitRules(circuit, session_.gateRules()));
    Snapshot s = next();
    s.circuitFromDb = true;
    s.linesUnsaved = false;
    s.logLoadsEnabled = true;
    rulesBeforeFinish_.reset();
    startFinishNote_ = "circuit " + circuit.name + " from the database";
    publish(std::move(s));
    return recut();
}

const Snapshot& Workspace::noteStatus(const std::string& note) {
    Snapshot s = next();
    s.status = (s.log() ? summary(s.log()->report) + kDash : std::string{}) + note;
    publish(std::move(s));
    return *snapshot_;
}

// --- a reference file read back -----------------------------------------------------

void Workspace::placeReference(Snapshot& s) const {
    s.referenceFile.reset();
    s.referencePath.clear();
    s.referenceTime = 0;
    s.referenceIsCompared = false;
    if (!reference_) return;
    const LoadedLog* log = s.log();
    if (log && log->hasBase) {
        if (const auto why = startFinishMismatch(log->startFinish.gates, reference_->gates))
            fail(ErrorKind::Invalid, reference_->label + ": its start/finish line is not this log's circuit: " + *why);
    }
    s.referenceFile = std::make_shared<const LapTrace>(
        reference_->trace(log && log->hasBase ? log->plane : LocalPlane{}));
    s.referencePath = reference_->label;
    s.referenceTime = reference_->lapTime;
    s.referenceIsCompared = reference_->asCompared;
}

const Snapshot& Workspace::useOtherLap(std::shared_ptr<const OtherLap> lap, std::string status) {
    const auto before = std::exchange(reference_, std::move(lap));
    Snapshot s = next();
    try {
        placeReference(s);
    } catch (const LoadError&) {
        reference_ = before;
        throw;
    }
    s.status = std::move(status);
    publish(std::move(s));
    return *snapshot_;
}

const Snapshot& Workspace::openReferenceFile(const std::string& path) {
    auto data = std::make_shared<const ReferenceFileData>(readReferenceFile(path));
    auto lap = std::make_shared<OtherLap>();
    lap->gates = data->gates;
    lap->lapTime = data->lapTime;
    lap->label = path;
    lap->trace = [data](const LocalPlane& plane) { return referenceTrace(*data, plane); };
    return useOtherLap(std::move(lap), "Reference file " + fileName(path) + " opened: lap of " +
                                           convertRealtoUTC(data->lapTime) + ", every lap is compared with it.");
}

const Snapshot& Workspace::closeReferenceFile() {
    reference_.reset();
    Snapshot s = next();
    placeReference(s);
    publish(std::move(s));
    return *snapshot_;
}

std::shared_ptr<const LoadedLog> loadStoredSession(const StoredSession& stored) {
    if (!stored.circuit) fail(ErrorKind::Invalid, "The session has no circuit, so no laps", stored.path);
    std::error_code ec;
    if (!std::filesystem::exists(stored.path, ec)) fail(ErrorKind::NotFound, "The session's log is gone", stored.path);
    if (fileContentHash(stored.path) != stored.hash)
        fail(ErrorKind::Changed, "The session's log has changed since it was added to the library; add it again",
             stored.path);
    Session session;
    SessionObserver quiet;
    session.setKeepTrack(true);
    session.setKeepChannels(true);
    session.setGateRules(stored.rules);
    const LoadReport report = session.loadLog(stored.kind, stored.path, quiet);
    if (!report.ok) throw LoadError(report.error);
    session.setStartFinish(stored.startFinish());
    session.recutLoaded();
    return session.loaded();
}

void writeStoredLapRefFile(const StoredSession& stored, std::int32_t lap, const std::string& target,
                           bool fixedReference) {
    const auto log = loadStoredSession(stored);
    if (lap == 0) lap = log->bestLap;
    if (lap == 0) fail(ErrorKind::Invalid, "The log has no complete lap", stored.path);
    saveLapRefFile(*log, pickLap(*log, lap), target, fixedReference);
}

SessionLibrary& Workspace::library() const {
    if (!library_)
        library_ = std::make_unique<SessionLibrary>(
            SessionLibrary::open(circuitDbPath_.empty() ? defaultCircuitDbPath() : circuitDbPath_));
    return *library_;
}

const Snapshot& Workspace::useStoredLap(const StoredSession& stored, std::int32_t lap, bool asCompared) {
    auto other = std::make_shared<OtherLap>();
    std::shared_ptr<const LapTrace> own;
    LocalPlane from;
    // The path the library kept when the log was added (the same log: same
    // content hash), else the log read again.
    std::optional<StoredLapPath> kept;
    try {
        const auto same = library().session(stored.id);
        if (same && same->hash == stored.hash && stored.circuit) kept = library().lapPath(stored.id, lap);
        if (kept) {
            for (const StoredLap& l : library().laps(stored.id))
                if (l.lap == lap) other->lapTime = l.time;
            other->gates = stored.startFinish().gates;
        }
    } catch (const LoadError&) {
        kept.reset(); // the database does not read: the log is read instead
    }
    if (kept && other->lapTime > 0) {
        own = std::make_shared<const LapTrace>(std::move(kept->trace));
        from = kept->plane;
    } else {
        const auto log = loadStoredSession(stored);
        const Lap* l = log->lap(lap);
        if (!l) fail(ErrorKind::Invalid, "There is no lap " + std::to_string(lap) + " in the session", stored.path);
        own = std::make_shared<const LapTrace>(traceLapNumber(*log->track, log->laps, log->crossings, lap));
        if (own->empty()) fail(ErrorKind::Invalid, "Lap " + std::to_string(lap) + " has no path", stored.path);
        from = log->plane;
        other->gates = log->startFinish.gates;
        other->lapTime = l->time;
    }
    other->label = stored.path + " lap " + std::to_string(lap);
    other->asCompared = asCompared;
    // Its points through latitude and longitude into the shown log's plane.
    other->trace = [own, from](const LocalPlane& to) {
        if (to.longScale == 0) return *own;
        LapTrace t = *own;
        for (TracePoint& p : t.points) {
            double lat = 0, lon = 0;
            track::toMinutes(from, LocalPoint{p.east, p.north}, lat, lon);
            const LocalPoint q = to.toLocal(lat, lon);
            p.east = q.east;
            p.north = q.north;
        }
        return t;
    };
    const double time = other->lapTime;
    return useOtherLap(std::move(other),
                       "Lap " + std::to_string(lap) + " of " + fileName(stored.path) + " (" + convertRealtoUTC(time) +
                           ") " +
                           (asCompared ? "compared with the selected lap." : "is the lap every lap is compared with."));
}

const Snapshot& Workspace::useStoredSession(const StoredSession& stored) {
    if (!stored.circuit)
        fail(ErrorKind::Invalid, "The session has no circuit: load its start/finish file", stored.path);
    session_.setStartFinish(stored.startFinish());
    session_.setGateRules(stored.rules);
    Snapshot s = next();
    s.circuitFromDb = false; // the stored circuit, not a lookup
    s.linesUnsaved = false;
    s.logLoadsEnabled = true;
    rulesBeforeFinish_.reset();
    startFinishNote_ = "circuit " + *stored.circuit + " of the stored session";
    publish(std::move(s));
    return *snapshot_;
}

// --- laps ----------------------------------------------------------------------------

std::shared_ptr<const LapTrace> Workspace::traceOf(std::int32_t lap) const {
    const LoadedLog* log = snapshot_->log();
    if (!log || !log->track || lap < 1 || static_cast<std::size_t>(lap) > log->laps.size() ||
        traces_.size() != log->laps.size())
        return nullptr;
    auto& slot = traces_[static_cast<std::size_t>(lap) - 1];
    if (!slot) {
        auto t = std::make_shared<LapTrace>(traceLapNumber(*log->track, log->laps, log->crossings, lap));
        if (t->empty()) return nullptr;
        slot = std::move(t);
    }
    return slot;
}

const Snapshot& Workspace::selectLap(std::int32_t lap) {
    Snapshot s = next();
    const LoadedLog* log = s.log();
    s.selectedLap = log && log->lap(lap) ? lap : 0;
    s.selected = traceOf(s.selectedLap);
    s.compared = s.selected && s.comparedLap != s.selectedLap ? traceOf(s.comparedLap) : nullptr;
    publish(std::move(s));
    return *snapshot_;
}

const Snapshot& Workspace::compareWith(std::int32_t lap) {
    Snapshot s = next();
    s.comparedLap = lap;
    s.compared = s.selected && s.comparedLap != s.selectedLap ? traceOf(s.comparedLap) : nullptr;
    publish(std::move(s));
    return *snapshot_;
}

void Workspace::saveLapRefFile(const LoadedLog& log, const ReferenceLap& ref, const std::string& target,
                               bool fixedReference) const {
    lorvane::saveLapRefFile(log, ref, target, fixedReference);
}

std::int32_t Workspace::exportLap(const std::string& target, bool gpx, const Units& units) const {
    const Snapshot& s = *snapshot_;
    const LoadedLog* log = s.log();
    if (!log || !s.selected) fail(ErrorKind::Invalid, "No lap with a path is selected");
    const LapTrace& lap = *s.selected;
    std::string bytes;
    if (gpx) {
        const Lap* l = log->lap(lap.lap);
        const auto crossings = l ? findLapCrossings(log->crossings, *l) : std::nullopt;
        const double start = crossings ? crossings->open->time : 0.0;
        bytes = lapGpx(lap, log->plane, start, gpxDate(log->report.date, log->path),
                       "Lap " + std::to_string(lap.lap) + " of " + fileName(log->path));
    } else {
        bytes = lapCsv(lap, log->plane, units);
    }
    writeFileAtomically(target, bytes);
    return lap.lap;
}

// --- status ---------------------------------------------------------------------------

std::string Workspace::summary(const LoadReport& r) const {
    if (r.cancelled) return "Load cancelled.";
    std::vector<std::string> parts;
    if (!r.layoutName.empty()) parts.push_back(r.layoutName);
    parts.push_back(count(r.samples, "sample", "samples"));
    parts.push_back(count(r.lapCount, "lap", "laps"));
    if (r.bestLap > 0)
        parts.push_back("fastest lap " + std::to_string(r.bestLap) + ": " + convertRealtoUTC(r.bestLapTime));
    std::vector<std::string> notes;
    if (!r.ok) notes.push_back("stopped: " + r.error.message);
    if (r.ok && !r.noLaps.empty()) notes.push_back(r.noLaps);
    if (r.runCount > 1) {
        // "3 runs: pauses of 57, 48 min": no lap is timed across a pause.
        std::vector<std::string> gaps;
        for (const double p : r.pauses)
            gaps.push_back(p >= 60 ? std::to_string(std::lround(p / 60)) + " min"
                                   : std::to_string(std::lround(p)) + " s");
        notes.push_back(std::to_string(r.runCount) + " runs: " + (r.pauses.size() == 1 ? "a pause of" : "pauses of") +
                        " " + join(gaps, ", "));
    }
    if (r.cutMidLine && r.kind != LogKind::Binary) notes.push_back("the last line is cut off in mid-line");
    if (r.cutMidLine && r.kind == LogKind::Binary && r.shortRecords == 0)
        notes.push_back("the last record is cut off, its position kept");
    if (r.resyncs > 0) notes.push_back(count(r.resyncs, "record", "records") + " dropped by resynchronisation");
    if (r.shortRecords > 0) notes.push_back("a short last record dropped");
    if (!r.readerNote.empty()) notes.push_back(r.readerNote);
    if (!startFinishNote_.empty()) notes.push_back(startFinishNote_);
    std::string s = join(parts, kDot);
    if (!notes.empty()) s += kDash + join(notes, "; ");
    return s;
}

std::string Workspace::statusOf(const LogView& view) const {
    std::string s = summary(view.log->report);
    if (view.split) {
        std::vector<std::string> laps;
        for (std::int32_t n : view.split->laps) laps.push_back(std::to_string(n));
        s += std::string(kDash) + "Laps " + join(laps, ", ") + " look split: the track may cross a gate twice a lap.";
    }
    return s;
}

} // namespace lorvane
