// lorvane-bench: how fast the engine loads a large log, how long the lap choice
// and the reference file take, how long the lap analysis takes, and how much
// memory the command-line driver needs.
//
// Inputs are made by the session generator on first use and kept in a cache
// folder (--data-dir DIR, or $LORVANE_BENCH_DATA, default $TMPDIR/lorvane-bench).
//
//   lorvane-bench [--data-dir DIR] [--inputs-only] [benchmark options]
#include <benchmark/benchmark.h>

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <string>
#include <vector>

#include "analysis/lap_analysis.h"
#include "analysis/lap_delta.h"
#include "formats/text_log.h"
#include "session/session.h"
#include "sessiongen/session_gen.h"

namespace fs = std::filesystem;
using namespace lorvane;

namespace {

std::string gDataDir;

struct Input {
    std::string stem; // without extension
    std::int64_t samples = 0;
    std::int64_t binarySamples = 0;
};

// The text log's channels: the seed's choice of extras and enough filler
// channels for lines of about 100 bytes, or the twelve channels a logger
// writes when it also records speed, heading, height and the car's
// accelerations and engine.
enum class Channels { Padded, Twelve };

// 1,000,000 samples at 10 per second, laps of 60 to 90 s. `small` is the same
// circuit for a tenth of the time.
Input makeInput(const std::string& name, std::int64_t targetSamples, Channels channels = Channels::Padded) {
    Input in;
    in.stem = gDataDir + "/" + name;
    const std::string done = in.stem + ".ok";
    if (fs::exists(done)) {
        std::ifstream f(done);
        f >> in.samples >> in.binarySamples;
        if (in.samples > 0) return in;
    }
    fs::create_directories(gDataDir);
    gen::Options o;
    o.seed = 2024;
    o.laps = 1;
    o.text.fillerChannels = -1;
    if (channels == Channels::Twelve) {
        o.text.extraChannels = std::vector<std::string>{"Velocity", "Heading", "Altitude"};
        o.text.fillerChannels = 5; // RPM, Throttle, Brake pressure, Lateral acc, Long acc
    }
    o.binary.recordLength = 34;
    // Find the lap count that gives the sample count wanted: the samples of
    // one lap, and those before the first and after the last crossing.
    const gen::Session probe = gen::generate(o);
    o.laps = 11;
    const gen::Session probe11 = gen::generate(o);
    const double perLap = static_cast<double>(probe11.samples.size() - probe.samples.size()) / 10.0;
    const double fixed = static_cast<double>(probe.samples.size()) - perLap;
    o.laps = std::max(1, static_cast<int>((static_cast<double>(targetSamples) - fixed) / perLap + 0.5));
    std::fprintf(stderr, "making %s: %d laps of about %.0f s ...\n", in.stem.c_str(), o.laps,
                 probe.lapTimes.empty() ? 0.0 : probe.lapTimes.front());
    const gen::Session s = gen::generate(o);
    gen::writeSession(s, in.stem);
    in.samples = static_cast<std::int64_t>(s.samples.size());
    in.binarySamples = s.binarySampleCount();
    std::ofstream(done) << in.samples << " " << in.binarySamples << "\n";
    return in;
}

const Input& bigInput() {
    static const Input in = makeInput("session-1m", 1'000'000);
    return in;
}
const Input& twelveChannelInput() {
    static const Input in = makeInput("session-1m-12ch", 1'000'000, Channels::Twelve);
    return in;
}
const Input& smallInput() {
    static const Input in = makeInput("session-100k", 100'000);
    return in;
}

std::string logPath(const Input& in, LogKind kind) {
    return in.stem + (kind == LogKind::Text ? ".zlg" : ".wmx");
}

// What the command-line driver keeps: nothing per sample.
struct NullObserver : SessionObserver {
    std::int64_t points = 0;
    void trackPoints(std::span<const TrackPoint> p) override { points += static_cast<std::int64_t>(p.size()); }
};

Session& loadedSession(const Input& in, LogKind kind) {
    static Session session;
    static std::string loaded;
    if (loaded != logPath(in, kind)) {
        if (!session.loadStartFinish(in.stem + ".gxr").ok) std::abort();
        NullObserver obs;
        const LoadReport r = session.loadLog(kind, logPath(in, kind), obs);
        if (!r.ok) {
            std::cerr << r.error.describe() << "\n";
            std::abort();
        }
        loaded = logPath(in, kind);
    }
    return session;
}

// The engine's load: laps and track points, nothing displayed.
void BM_EngineLoad(benchmark::State& state, LogKind kind, const Input* input) {
    const Input& in = *input;
    const std::string path = logPath(in, kind);
    const auto bytes = static_cast<std::int64_t>(fs::file_size(path));
    Session session;
    if (!session.loadStartFinish(in.stem + ".gxr").ok) std::abort();
    LoadReport r;
    for (auto _ : state) {
        NullObserver obs;
        r = session.loadLog(kind, path, obs);
        if (!r.ok) {
            state.SkipWithError(r.error.describe().c_str());
            break;
        }
        benchmark::DoNotOptimize(obs.points);
    }
    state.SetBytesProcessed(state.iterations() * bytes);
    state.counters["samples/s"] = benchmark::Counter(static_cast<double>(r.samples),
                                                     benchmark::Counter::kIsIterationInvariantRate);
    state.counters["samples"] = static_cast<double>(r.samples);
    state.counters["laps"] = r.lapCount;
    state.counters["MB"] = static_cast<double>(bytes) / 1e6;
}

// The big session's fixes as NMEA 0183 (an RMC and a GGA sentence a fix, with
// checksums), written once next to the other inputs.
class NmeaWriter : public SampleSink {
public:
    explicit NmeaWriter(std::ofstream& out) : out_(out) {}
    bool sample(const Sample& s) override {
        const std::int64_t c = s.clock % 8640000;
        char t[16], lat[24], lon[24];
        std::snprintf(t, sizeof t, "%02lld%02lld%02lld.%02lld0", static_cast<long long>(c / 360000),
                      static_cast<long long>(c / 6000 % 60), static_cast<long long>(c / 100 % 60),
                      static_cast<long long>(c % 100));
        const double la = std::fabs(s.lat), lo = std::fabs(s.lon);
        std::snprintf(lat, sizeof lat, "%02d%08.5f,%c", static_cast<int>(la / 60), std::fmod(la, 60.0),
                      s.lat < 0 ? 'S' : 'N');
        std::snprintf(lon, sizeof lon, "%03d%08.5f,%c", static_cast<int>(lo / 60), std::fmod(lo, 60.0),
                      s.lon < 0 ? 'W' : 'E');
        put(std::string("GPRMC,") + t + ",A," + lat + "," + lon + ",35.2,87.1,090626,,,A");
        put(std::string("GPGGA,") + t + "," + lat + "," + lon + ",1," + std::to_string(s.sats) + ",0.9,40.0,M,,M,,");
        return true;
    }

private:
    void put(const std::string& body) {
        unsigned char sum = 0;
        for (char ch : body) sum ^= static_cast<unsigned char>(ch);
        char tail[8];
        std::snprintf(tail, sizeof tail, "*%02X\r\n", sum);
        out_ << '$' << body << tail;
    }
    std::ofstream& out_;
};

const std::string& nmeaInput() {
    static const std::string path = [] {
        const Input& in = bigInput();
        const std::string p = in.stem + ".nmea";
        if (!fs::exists(p + ".ok")) {
            std::ofstream out(p, std::ios::binary);
            NmeaWriter w(out);
            readTextLog(in.stem + ".zlg", w);
            out.close();
            std::ofstream(p + ".ok") << "ok\n";
        }
        return p;
    }();
    return path;
}

// The NMEA reader's load of the same fixes, with the same gates.
void BM_NmeaLoad(benchmark::State& state) {
    const std::string& path = nmeaInput();
    const auto bytes = static_cast<std::int64_t>(fs::file_size(path));
    Session session;
    if (!session.loadStartFinish(bigInput().stem + ".gxr").ok) std::abort();
    LoadReport r;
    for (auto _ : state) {
        NullObserver obs;
        r = session.loadLog(LogKind::Nmea, path, obs);
        if (!r.ok) {
            state.SkipWithError(r.error.describe().c_str());
            break;
        }
        benchmark::DoNotOptimize(obs.points);
    }
    state.SetBytesProcessed(state.iterations() * bytes);
    state.counters["samples"] = static_cast<double>(r.samples);
    state.counters["laps"] = r.lapCount;
    state.counters["MB"] = static_cast<double>(bytes) / 1e6;
}

// The lap choice of the last lap and its reference file.
void BM_PickLastLap(benchmark::State& state, LogKind kind) {
    Session& session = loadedSession(bigInput(), kind);
    const auto last = static_cast<std::int32_t>(session.laps().size());
    const std::string target = gDataDir + "/bench-LAP.REF";
    std::size_t points = 0;
    for (auto _ : state) {
        const ReferenceLap ref = session.pickLap(last);
        session.saveLapRefFile(ref, target, false);
        points = ref.points.size();
    }
    state.counters["lap"] = last;
    state.counters["points"] = static_cast<double>(points);
}

// A load that keeps its track, as the window's does.
const LoadedLog& loadedWithTrack(const Input& in, LogKind kind) {
    static Session session;
    static std::string loaded;
    if (loaded != logPath(in, kind)) {
        if (!session.loadStartFinish(in.stem + ".gxr").ok) std::abort();
        session.setKeepTrack(true);
        NullObserver obs;
        const LoadReport r = session.loadLog(kind, logPath(in, kind), obs);
        if (!r.ok || !session.loaded()->track) {
            std::cerr << r.error.describe() << "\n";
            std::abort();
        }
        loaded = logPath(in, kind);
    }
    return *session.loaded();
}

// Choosing a lap and comparing it with the fastest: both laps laid out, the
// chosen lap's sectors on the load's sector lines, and the delta on a grid as
// wide as a screen.
void BM_ChooseAndCompareLap(benchmark::State& state, LogKind kind) {
    const LoadedLog& log = loadedWithTrack(bigInput(), kind);
    const Track& track = *log.track;
    const auto& laps = log.laps;
    const auto& crossings = log.crossings;
    const std::int32_t best = fastestTracedLap(track, laps, crossings);
    const std::vector<SectorLine> lines = sectorLines(traceLapNumber(track, laps, crossings, best), kDefaultSectors);
    const auto chosen = static_cast<std::int32_t>(laps.size()); // the last lap: the far end of the track
    std::size_t points = 0;
    for (auto _ : state) {
        const LapTrace lap = traceLapNumber(track, laps, crossings, chosen);
        const LapTrace ref = traceLapNumber(track, laps, crossings, best);
        const auto sectors = sectorTimes(lap, lines);
        const auto delta = deltaOnGrid(lap, ref, 3840);
        benchmark::DoNotOptimize(sectors.data());
        benchmark::DoNotOptimize(delta.data());
        points = lap.points.size();
    }
    state.counters["lap"] = chosen;
    state.counters["lap_points"] = static_cast<double>(points);
    state.counters["track_samples"] = static_cast<double>(track.samples.size());
}

// The lap table of a whole load: every lap's distance, top speed and sectors,
// the best sectors and the theoretical best.
void BM_LapTable(benchmark::State& state, LogKind kind) {
    const LoadedLog& log = loadedWithTrack(bigInput(), kind);
    for (auto _ : state) {
        const LapAnalysis a = analyseLaps(*log.track, log.laps, log.crossings);
        benchmark::DoNotOptimize(a.table.theoreticalBest);
    }
    state.counters["laps"] = static_cast<double>(log.laps.size());
}

// Peak resident memory of `lorvane-cli laps` on a file: run once, read from
// the child's resource usage. The same on a file ten times smaller shows that
// nothing grows with the file.
void BM_CliPeakRss(benchmark::State& state, LogKind kind, bool big) {
    const Input& in = big ? bigInput() : smallInput();
    const std::string log = logPath(in, kind);
    const std::string gxr = in.stem + ".gxr";
    long maxrssKb = 0;
    for (auto _ : state) {
        const pid_t pid = ::fork();
        if (pid == 0) {
            const int devnull = ::open("/dev/null", O_WRONLY);
            ::dup2(devnull, 1);
            ::execl(LORVANE_CLI_PATH, "lorvane-cli", "laps", "--gxr", gxr.c_str(),
                    kind == LogKind::Text ? "--zlg" : "--wmx", log.c_str(), static_cast<char*>(nullptr));
            ::_exit(127);
        }
        int status = 0;
        rusage ru{};
        ::wait4(pid, &status, 0, &ru);
        if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
            state.SkipWithError("lorvane-cli failed");
            break;
        }
        maxrssKb = ru.ru_maxrss;
    }
    state.counters["peak_RSS_MB"] = static_cast<double>(maxrssKb) / 1024.0;
    state.counters["MB"] = static_cast<double>(fs::file_size(log)) / 1e6;
}

} // namespace

int main(int argc, char** argv) {
    const char* env = std::getenv("LORVANE_BENCH_DATA");
    gDataDir = env ? env : (fs::temp_directory_path() / "lorvane-bench").string();
    bool inputsOnly = false;
    std::vector<char*> rest{argv[0]};
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--data-dir") == 0 && i + 1 < argc)
            gDataDir = argv[++i];
        else if (std::strcmp(argv[i], "--inputs-only") == 0)
            inputsOnly = true;
        else
            rest.push_back(argv[i]);
    }
    // Make the inputs before any timing starts.
    const Input& big = bigInput();
    const Input& small = smallInput();
    const Input& twelve = twelveChannelInput();
    if (inputsOnly) {
        for (const Input* in : {&big, &small, &twelve})
            std::cout << in->stem << ".gxr " << in->stem << ".zlg " << in->stem << ".wmx (" << in->samples
                      << " samples)\n";
        return 0;
    }
    for (LogKind kind : {LogKind::Text, LogKind::Binary}) {
        const std::string k = kind == LogKind::Text ? "text" : "binary";
        benchmark::RegisterBenchmark(("engine_load/" + k).c_str(), BM_EngineLoad, kind, &big)
            ->Unit(benchmark::kMillisecond)
            ->MinTime(3)
            ->UseRealTime();
    }
    benchmark::RegisterBenchmark("engine_load/text/12_channels", BM_EngineLoad, LogKind::Text, &twelve)
        ->Unit(benchmark::kMillisecond)
        ->MinTime(3)
        ->UseRealTime();
    nmeaInput();
    benchmark::RegisterBenchmark("engine_load/nmea", BM_NmeaLoad)
        ->Unit(benchmark::kMillisecond)
        ->MinTime(3)
        ->UseRealTime();
    for (LogKind kind : {LogKind::Text, LogKind::Binary}) {
        const std::string k = kind == LogKind::Text ? "text" : "binary";
        benchmark::RegisterBenchmark(("pick_last_lap+ref_file/" + k).c_str(), BM_PickLastLap, kind)
            ->Unit(benchmark::kMillisecond)
            ->MinTime(2)
            ->UseRealTime();
    }
    for (LogKind kind : {LogKind::Text, LogKind::Binary}) {
        const std::string k = kind == LogKind::Text ? "text" : "binary";
        benchmark::RegisterBenchmark(("choose_and_compare_lap/" + k).c_str(), BM_ChooseAndCompareLap, kind)
            ->Unit(benchmark::kMillisecond)
            ->MinTime(1)
            ->UseRealTime();
        benchmark::RegisterBenchmark(("lap_table/" + k).c_str(), BM_LapTable, kind)
            ->Unit(benchmark::kMillisecond)
            ->MinTime(1)
            ->UseRealTime();
    }
    for (bool bigFile : {true, false})
        for (LogKind kind : {LogKind::Text, LogKind::Binary}) {
            const std::string k = kind == LogKind::Text ? "text" : "binary";
            benchmark::RegisterBenchmark(("cli_laps_peak_rss/" + k + (bigFile ? "/1M" : "/100k")).c_str(),
                                         BM_CliPeakRss, kind, bigFile)
                ->Iterations(1)
                ->Unit(benchmark::kMillisecond)
                ->UseRealTime();
        }
    int n = static_cast<int>(rest.size());
    benchmark::Initialize(&n, rest.data());
    if (benchmark::ReportUnrecognizedArguments(n, rest.data())) return 1;
    benchmark::AddCustomContext("log_samples", std::to_string(big.samples));
    benchmark::AddCustomContext("data_dir", gDataDir);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
