#include "session/session.h"

#include <cerrno>
#include <cmath>
#include <cstring>

#include <unistd.h>

#include "formats/any_log.h"
#include "formats/binary_log.h"
#include "formats/log_formats.h"
#include "formats/log_time.h"
#include "formats/numbers.h"
#include "reference/reference_file.h"
#include "session/lap_check.h"

namespace lorvane {

// Marks the session busy for the lifetime of one operation; a second
// operation meanwhile is refused.
class Session::Busy {
public:
    explicit Busy(Session& s) : s_(s), acquired_(!s.busy_.exchange(true)) {}
    ~Busy() {
        if (acquired_) s_.busy_.store(false);
    }
    bool acquired() const { return acquired_; }

private:
    Session& s_;
    bool acquired_;
};

namespace {

constexpr const char* kBusy = "Busy: a load or a lap choice is already running";

// The per-sample steps of a load: base point selection, track point, lap step.
class LoadSink : public SampleSink {
public:
    LoadSink(LoadedLog& log, LapSegmenter& segmenter, SessionObserver& obs, Track* track, bool keepChannels)
        : log_(log), segmenter_(segmenter), obs_(obs), track_(track), keepChannels_(track && keepChannels) {
        batch_.reserve(kBatch);
    }

    void layout(const LogLayout& l) override {
        log_.layout = l;
        segmenter_.setTicksPerSecond(l.ticksPerSecond);
        if (track_) track_->ticksPerSecond = l.ticksPerSecond;
        if (keepChannels_) track_->channels.reset(l.channels);
    }

    bool wantsChannels() const override { return keepChannels_; }

    bool sample(const Sample& s) override {
        LocalPlane& plane = log_.plane;
        LoadReport& report = log_.report;
        if (!s.hasPosition) {
            // A line before the log's first position: it keeps its index, nothing more.
            if (s.timeError) throw LoadError(*s.timeError);
            ++report.samples;
            return true;
        }
        if (selector_.count(hasBase_, s.sats)) {
            plane.baseLat = s.lat;
            plane.baseLong = s.lon;
            plane.longScale = calcLongScale(s.lat, s.lon);
            hasBase_ = plane.baseLat != 0 || plane.baseLong != 0;
        }
        if (hasBase_ && plane.longScale != 0 && s.lat != 0) {
            LocalPoint p = plane.toLocal(s.lat, s.lon);
            report.extent.add(p.east, p.north);
            batch_.push_back(TrackPoint{p.east, p.north, s.index});
            if (batch_.size() == kBatch) flush();
        }
        if (s.timeError) throw LoadError(*s.timeError);
        selector_.resetIfLost(s.sats);
        if (hasBase_) {
            const Lap* lap = segmenter_.step(plane, s);
            if (track_ && segmenter_.lastStepped()) {
                const LocalPoint c = segmenter_.current();
                track_->samples.push_back(
                    TrackSample{c.east, c.north, s.time, s.clock, s.index, static_cast<float>(s.speed)});
                if (keepChannels_) track_->channels.push(s.channels);
            }
            if (lap) {
                flush();
                obs_.lapAdded(*lap, segmenter_.lastWasBest());
            }
        }
        ++report.samples;
        return true;
    }

    bool progress(std::uint64_t done, std::uint64_t total) override {
        flush();
        return obs_.progress(done, total);
    }

    void flush() {
        if (batch_.empty()) return;
        log_.report.plotted += static_cast<std::int64_t>(batch_.size());
        obs_.trackPoints(batch_);
        batch_.clear();
    }

    bool hasBase() const { return hasBase_; }

private:
    static constexpr std::size_t kBatch = 16384;
    LoadedLog& log_;
    LapSegmenter& segmenter_;
    SessionObserver& obs_;
    Track* track_;
    bool keepChannels_;
    BasePointSelector selector_;
    bool hasBase_ = false;
    std::vector<TrackPoint> batch_;
};

const Lap& lapOf(const LoadedLog& log, std::int32_t lap) {
    const Lap* l = log.lap(lap);
    if (!l) fail(ErrorKind::Invalid, "There is no lap " + std::to_string(lap) + " in the loaded log", log.path);
    return *l;
}

// The lap step's results into the loaded log and its report.
void takeLaps(LoadedLog& log, const LapSegmenter& segmenter) {
    log.crossings = segmenter.crossings();
    log.laps = segmenter.laps();
    log.runs = segmenter.runs();
    log.bestLap = segmenter.bestLap();
    log.bestLapTime = segmenter.bestLapTime();
    LoadReport& report = log.report;
    const LocalPlane& plane = log.plane;
    report.hasBase = log.hasBase;
    report.baseLat = plane.baseLat;
    report.baseLong = plane.baseLong;
    report.longScale = plane.longScale;
    report.lapCount = static_cast<std::int32_t>(log.laps.size());
    report.bestLap = log.bestLap;
    report.bestLapTime = log.bestLapTime;
    report.crossingCount = static_cast<std::int32_t>(log.crossings.size());
    report.runCount = static_cast<std::int32_t>(log.runs.size());
    report.pauses.clear();
    for (std::size_t i = 1; i < log.runs.size(); ++i) {
        double gap = log.runs[i].firstTime - log.runs[i - 1].lastTime;
        if (gap < 0) gap += 86400; // the clock went past midnight
        report.pauses.push_back(gap);
    }
    report.nearestToStart = segmenter.nearestToStart();
    report.nearestToFinish = segmenter.nearestToFinish();
    report.startMarker.reset();
    report.finishMarker.reset();
    if (report.hasBase) {
        const StartFinish& g = log.startFinish.gates;
        report.startMarker = plane.toLocal(g.start.lat1, g.start.long1);
        if (g.hasFinishLine) report.finishMarker = plane.toLocal(g.finish.lat1, g.finish.long1);
    }
    report.noLaps = report.ok ? noLapReason(log) : std::string();
    if (report.ok && log.laps.empty() && report.crossingCount >= 2)
        report.noLaps = "the start/finish line is crossed " + std::to_string(report.crossingCount) +
                        " times, but never twice in one run (a stretch of more than " +
                        formatRoundTrip(log.rules.maxGap) + " s without a fix ends a run)";
}

const std::vector<Lap> kNoLaps;
const std::vector<Crossing> kNoCrossings;

} // namespace

ReferenceLap pickLap(const LoadedLog& log, std::int32_t lap) {
    const Lap& l = lapOf(log, lap);
    LapSource src;
    src.kind = log.kind;
    src.path = log.path;
    src.columns = log.columns();
    src.recordLength = log.layout.recordLength;
    src.ticksPerSecond = log.layout.ticksPerSecond;
    src.firstSample = l.startSample;
    src.lastSample = l.endSample;
    ReferenceLap ref;
    ref.lap = lap;
    ref.points = readReferenceLap(src);
    return ref;
}

std::string composeLapRefFile(const LoadedLog& log, const ReferenceLap& ref, bool fixedReference) {
    const Lap& lap = lapOf(log, ref.lap);
    if (log.startFinish.path.empty()) fail(ErrorKind::Invalid, "No start/finish file has been loaded");
    ReferenceInput in;
    in.startFinishText = log.startFinish.text;
    in.baseLat = log.plane.baseLat;
    in.baseLong = log.plane.baseLong;
    in.lapTime = lap.time;
    // The lap's own opening crossing (after a pause it is not crossing n for lap n).
    const auto opening = static_cast<std::size_t>(lap.openingCrossing);
    if (lap.openingCrossing < 0 || opening >= log.crossings.size() || log.crossings[opening].sample != lap.startSample)
        fail(ErrorKind::Invalid, "Lap " + std::to_string(ref.lap) + " has no opening crossing", log.path);
    in.openingOffset = log.crossings[opening].offset;
    in.fixedReference = fixedReference;
    in.points = ref.points;
    return composeReferenceFile(in);
}

void saveLapRefFile(const LoadedLog& log, const ReferenceLap& ref, const std::string& target, bool fixedReference) {
    writeFileAtomically(target, composeLapRefFile(log, ref, fixedReference));
}

GateRules effectiveRules(LogKind kind, const GateRules& chosen) {
    GateRules r = chosen;
    if (!r.gateWidth) r.gateWidth = logFormat(kind).defaultGateWidth;
    return r;
}

std::shared_ptr<const LoadedLog> recut(const LoadedLog& log, const StartFinishFile& startFinish,
                                       const GateRules& chosen) {
    if (!log.track) fail(ErrorKind::Invalid, "The loaded log kept no track to cut again", log.path);
    const GateRules rules = effectiveRules(log.kind, chosen);
    auto out = std::make_shared<LoadedLog>(log);
    out->startFinish = startFinish;
    out->rules = rules;
    LapSegmenter segmenter;
    segmenter.reset(startFinish.gates, log.kind, rules, log.track->ticksPerSecond);
    for (const TrackSample& t : log.track->samples)
        segmenter.step(log.plane, LocalPoint{t.east, t.north}, t.time, t.clock, t.sample);
    takeLaps(*out, segmenter);
    return out;
}

StartFinishFile startFinishFromGates(const StartFinish& gates, const std::string& name) {
    if (name.empty()) fail(ErrorKind::Invalid, "A start/finish definition needs a name");
    StartFinishFile file;
    file.text = composeStartFinishText(gates);
    file.gates = parseStartFinish(file.text, name);
    file.path = name;
    return file;
}

void Session::setStartFinish(StartFinishFile file) {
    Busy busy(*this);
    if (!busy.acquired()) fail(ErrorKind::Busy, kBusy);
    if (file.path.empty()) fail(ErrorKind::Invalid, "A start/finish definition needs a name");
    if (file.text.empty()) file = startFinishFromGates(file.gates, file.path);
    startFinish_ = std::move(file);
}

void saveStartFinishFile(const StartFinishFile& file, const std::string& gxrPath) {
    const std::string splitPath = splitLinesPathFor(gxrPath);
    if (splitPath == gxrPath)
        fail(ErrorKind::Invalid, "A start/finish file cannot be saved under its split file's name", gxrPath);
    const std::string gxr = file.text.empty() ? composeStartFinishText(file.gates) : file.text;
    const std::string splits = file.splits.empty() ? std::string() : composeSplitLinesText(file.splits);
    writeFileAtomically(gxrPath, gxr);
    if (!file.splits.empty()) {
        try {
            writeFileAtomically(splitPath, splits);
        } catch (LoadError& e) {
            e.diagnostic().message = "The start/finish file was saved, but not its split lines: " +
                                     e.diagnostic().message;
            throw;
        }
    } else if (::unlink(splitPath.c_str()) != 0 && errno != ENOENT) {
        // Left in place it would give the saved file the old split lines.
        fail(ErrorKind::InputOutput,
             std::string("The start/finish file was saved, but its old split file could not be removed: ") +
                 std::strerror(errno),
             splitPath);
    }
}

StartFinishReport Session::loadStartFinish(const std::string& path) {
    StartFinishReport r;
    Busy busy(*this);
    if (!busy.acquired()) {
        r.error = Diagnostic{kBusy, path, 0, -1, ErrorKind::Busy};
        return r;
    }
    // The name is tested before anything is read.
    if (!passesGxrNameTest(path)) {
        r.nameRejected = true;
        r.error = Diagnostic{"Not a start/finish file: the path contains neither \"gxr\" nor \"GXR\"", path, 0, -1,
                             ErrorKind::Invalid};
        return r;
    }
    try {
        StartFinishFile file;
        file.text = readWholeFile(path);
        file.gates = parseStartFinish(file.text, path);
        file.path = path;
        // Its split lines, when a split file lies beside it; a bad one refuses
        // the whole file, as a bad gate does.
        file.splits = readSplitLinesBeside(path);
        startFinish_ = std::move(file);
        r.ok = true;
    } catch (const LoadError& e) {
        r.error = e.diagnostic();
    }
    return r;
}

LoadReport Session::loadLog(LogKind kind, const std::string& path, SessionObserver& observer) {
    Busy busy(*this);
    if (!busy.acquired()) {
        LoadReport report;
        report.kind = kind;
        report.path = path;
        report.error = Diagnostic{kBusy, path, 0, -1, ErrorKind::Busy};
        return report;
    }

    auto log = std::make_shared<LoadedLog>();
    log->kind = kind;
    log->path = path;
    log->startFinish = startFinish_;
    LoadReport& report = log->report;
    report.kind = kind;
    report.path = path;
    std::shared_ptr<Track> track;
    if (keepTrack_) track = std::make_shared<Track>();

    log->rules = effectiveRules(kind, rules_);
    LapSegmenter segmenter;
    segmenter.reset(startFinish_.gates, kind, log->rules);
    observer.loadStarted(kind, path);

    LoadSink sink(*log, segmenter, observer, track.get(), keepChannels_);
    try {
        const AnyLogInfo info = readAnyLog(kind, path, sink);
        report.resyncs = info.binary.resyncs;
        report.shortRecords = info.binary.shortRecords;
        report.cutMidLine = info.cutMidLine;
        report.readerNote = info.note;
        report.layoutName = info.layoutName;
        if (info.firstDay) report.date = isoDate(*info.firstDay);
        if (kind != LogKind::Binary) {
            report.dropped = info.dropped;
            report.firstDroppedLine = info.firstDroppedLine;
        }
        report.ok = true;
    } catch (const LoadError& e) {
        report.error = e.diagnostic();
        report.cancelled = report.error.kind == ErrorKind::Cancelled;
    }
    sink.flush();
    if (track) track->channels.shrinkToFit();

    log->hasBase = sink.hasBase();
    log->track = std::move(track);
    takeLaps(*log, segmenter);
    {
        std::lock_guard lock(loadedMutex_);
        loaded_ = log;
    }
    observer.loadFinished(report);
    return report;
}

LoadReport Session::recutLoaded() {
    Busy busy(*this);
    if (!busy.acquired()) fail(ErrorKind::Busy, kBusy);
    const auto log = loaded();
    if (!log) fail(ErrorKind::Invalid, "No log has been loaded");
    auto next = recut(*log, startFinish_, rules_);
    {
        std::lock_guard lock(loadedMutex_);
        loaded_ = next;
    }
    return next->report;
}

std::shared_ptr<const LoadedLog> Session::loaded() const {
    std::lock_guard lock(loadedMutex_);
    return loaded_;
}

ReferenceLap Session::pickLap(std::int32_t lap) {
    Busy busy(*this);
    if (!busy.acquired()) fail(ErrorKind::Busy, kBusy);
    const auto log = loaded();
    if (!log) fail(ErrorKind::Invalid, "There is no lap " + std::to_string(lap) + " in the loaded log");
    chosenLap_ = lap;
    return lorvane::pickLap(*log, lap);
}

void Session::saveLapRefFile(const ReferenceLap& ref, const std::string& target, bool fixedReference) {
    Busy busy(*this);
    if (!busy.acquired()) fail(ErrorKind::Busy, kBusy);
    const auto log = loaded();
    if (!log) fail(ErrorKind::Invalid, "No log has been loaded");
    lorvane::saveLapRefFile(*log, ref, target, fixedReference);
}

LogKind Session::logKind() const {
    const auto log = loaded();
    return log ? log->kind : LogKind::Text;
}

std::string Session::logFileName() const {
    const auto log = loaded();
    return log ? log->path : std::string();
}

TextLogColumns Session::columns() const {
    const auto log = loaded();
    return log ? log->columns() : TextLogColumns{};
}

LocalPlane Session::plane() const {
    const auto log = loaded();
    return log ? log->plane : LocalPlane{};
}

const std::vector<Lap>& Session::laps() const {
    const auto log = loaded();
    return log ? log->laps : kNoLaps;
}

const std::vector<Crossing>& Session::crossings() const {
    const auto log = loaded();
    return log ? log->crossings : kNoCrossings;
}

std::int32_t Session::bestLap() const {
    const auto log = loaded();
    return log ? log->bestLap : 0;
}

} // namespace lorvane
