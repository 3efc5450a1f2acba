#include "session/session.h"

#include "formats/binary_log.h"
#include "reference/reference_file.h"

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
    LoadSink(LocalPlane& plane, LapSegmenter& segmenter, SessionObserver& obs, LoadReport& report)
        : plane_(plane), segmenter_(segmenter), obs_(obs), report_(report) {
        batch_.reserve(kBatch);
    }

    void layout(const LogLayout& l) override { layout_ = l; }

    bool sample(const Sample& s) override {
        if (selector_.count(hasBase_, s.sats)) {
            plane_.baseLat = s.lat;
            plane_.baseLong = s.lon;
            plane_.longScale = calcLongScale(s.lat, s.lon);
            hasBase_ = plane_.baseLat != 0 || plane_.baseLong != 0;
        }
        if (hasBase_ && plane_.longScale != 0 && s.lat != 0) {
            LocalPoint p = plane_.toLocal(s.lat, s.lon);
            TrackExtent& x = report_.extent;
            if (p.east > x.maxEast) x.maxEast = p.east;
            if (p.east < x.minEast) x.minEast = p.east;
            if (p.north > x.maxNorth) x.maxNorth = p.north;
            if (p.north < x.minNorth) x.minNorth = p.north;
            batch_.push_back(TrackPoint{p.east, p.north, s.index});
            if (batch_.size() == kBatch) flush();
        }
        if (s.timeError) throw LoadError(*s.timeError);
        selector_.resetIfLost(s.sats);
        if (hasBase_) {
            if (const Lap* lap = segmenter_.step(plane_, s)) {
                flush();
                obs_.lapAdded(*lap, segmenter_.lastWasBest());
            }
        }
        ++report_.samples;
        return true;
    }

    bool progress(std::uint64_t done, std::uint64_t total) override {
        flush();
        return obs_.progress(done, total);
    }

    void flush() {
        if (batch_.empty()) return;
        report_.plotted += static_cast<std::int64_t>(batch_.size());
        obs_.trackPoints(batch_);
        batch_.clear();
    }

    bool hasBase() const { return hasBase_; }
    const LogLayout& layout() const { return layout_; }

private:
    static constexpr std::size_t kBatch = 16384;
    LocalPlane& plane_;
    LapSegmenter& segmenter_;
    SessionObserver& obs_;
    LoadReport& report_;
    BasePointSelector selector_;
    bool hasBase_ = false;
    LogLayout layout_;
    std::vector<TrackPoint> batch_;
};

} // namespace

StartFinishReport Session::loadStartFinish(const std::string& path) {
    StartFinishReport r;
    Busy busy(*this);
    if (!busy.acquired()) {
        r.error = Diagnostic{kBusy, path, 0, -1};
        return r;
    }
    try {
        std::string text = readWholeFile(path);
        if (!passesGxrNameTest(path)) {
            r.nameRejected = true;
            r.error = Diagnostic{"Not a start/finish file: the path contains neither \"gxr\" nor \"GXR\"", path, 0, -1};
            return r;
        }
        StartFinish sf = parseStartFinish(text, path);
        gates_ = sf;
        gxrFileName_ = path;
        r.ok = true;
    } catch (const LoadError& e) {
        r.error = e.diagnostic();
    }
    return r;
}

LoadReport Session::loadLog(LogKind kind, const std::string& path, SessionObserver& observer) {
    LoadReport report;
    report.kind = kind;
    report.path = path;
    Busy busy(*this);
    if (!busy.acquired()) {
        report.error = Diagnostic{kBusy, path, 0, -1};
        return report;
    }

    // From here on the laps describe this file, whatever happens.
    logKind_ = kind;
    logFileName_ = path;
    logLoaded_ = true;
    columns_ = TextLogColumns{};
    recordLength_ = 0;
    segmenter_.reset(gates_, kind);
    plane_.baseLat = 0;
    plane_.baseLong = 0;
    observer.loadStarted(kind, path);

    LoadSink sink(plane_, segmenter_, observer, report);
    try {
        if (kind == LogKind::Text) {
            readTextLog(path, sink);
        } else {
            BinaryLogInfo info = readBinaryLog(path, sink);
            report.resyncs = info.resyncs;
            report.shortRecords = info.shortRecords;
        }
        report.ok = true;
    } catch (const LoadError& e) {
        report.error = e.diagnostic();
        report.cancelled = report.error.message == "Load cancelled";
    }
    sink.flush();
    const LogLayout& l = sink.layout();
    columns_ = TextLogColumns{l.latColumn, l.longColumn, l.timeColumn, l.satColumn};
    recordLength_ = l.recordLength;

    report.hasBase = sink.hasBase();
    report.baseLat = plane_.baseLat;
    report.baseLong = plane_.baseLong;
    report.longScale = plane_.longScale;
    report.lapCount = static_cast<std::int32_t>(segmenter_.laps().size());
    report.bestLap = segmenter_.bestLap();
    report.bestLapTime = segmenter_.bestLapTime();
    if (report.hasBase) {
        report.startMarker = plane_.toLocal(gates_.start.lat1, gates_.start.long1);
        if (gates_.hasFinishLine) report.finishMarker = plane_.toLocal(gates_.finish.lat1, gates_.finish.long1);
    }
    observer.loadFinished(report);
    return report;
}

ReferenceLap Session::pickLap(std::int32_t lap) {
    Busy busy(*this);
    if (!busy.acquired()) fail(kBusy);
    const auto& laps = segmenter_.laps();
    if (!logLoaded_ || lap < 1 || static_cast<std::size_t>(lap) > laps.size())
        fail("There is no lap " + std::to_string(lap) + " in the loaded log", logFileName_);
    const Lap& l = laps[static_cast<std::size_t>(lap) - 1];
    LapSource src;
    src.kind = logKind_;
    src.path = logFileName_;
    src.columns = columns_;
    src.recordLength = recordLength_;
    src.firstSample = l.startSample;
    src.lastSample = l.endSample;
    chosenLap_ = lap;
    ReferenceLap ref;
    ref.lap = lap;
    ref.points = readReferenceLap(src);
    return ref;
}

std::string Session::composeLapRefFile(const ReferenceLap& ref, bool fixedReference) const {
    const auto& laps = segmenter_.laps();
    if (ref.lap < 1 || static_cast<std::size_t>(ref.lap) > laps.size())
        fail("There is no lap " + std::to_string(ref.lap) + " in the loaded log", logFileName_);
    if (gxrFileName_.empty()) fail("No start/finish file has been loaded");
    ReferenceInput in;
    in.startFinishText = readWholeFile(gxrFileName_);
    in.baseLat = plane_.baseLat;
    in.baseLong = plane_.baseLong;
    in.lapTime = laps[static_cast<std::size_t>(ref.lap) - 1].time;
    // Crossing n opens lap n.
    in.openingOffset = segmenter_.crossings()[static_cast<std::size_t>(ref.lap) - 1].offset;
    in.fixedReference = fixedReference;
    in.points = ref.points;
    return composeReferenceFile(in);
}

void Session::saveLapRefFile(const ReferenceLap& ref, const std::string& target, bool fixedReference) {
    Busy busy(*this);
    if (!busy.acquired()) fail(kBusy);
    const std::string bytes = composeLapRefFile(ref, fixedReference);
    writeFileAtomically(target, bytes);
}

} // namespace lorvane
