// Synthetic lapping sessions with known ground truth.
//
// generate() builds a closed circuit, drives a vehicle round it for a number of
// laps at 10 samples per second (or another rate), and writes the session three ways: the
// start/finish line file (.gxr), the text log (.zlg) and the binary log (.wmx).
// Alongside the files it keeps what a reader of them should find: every sample
// as written, the true crossing time of each gate, the binary records that a
// reader drops, and the number of laps.
//
// Everything is decided by the seed. Format options (decimal commas, line ends,
// record length, damage) do not change the circuit, the path or the samples.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace lorvane::gen {

inline constexpr int kSamplesPerSecond = 10;          // the default rate
inline constexpr double kMetresPerMinute = 1853.3404; // one minute of arc
inline constexpr double kUnitsPerMinute = 100000.0;   // file units: 1/100000 minute

struct TextOptions {
    // Extra channels besides latitude, longitude, time and satellites. Unset:
    // the seed picks some of Velocity, Heading, Trigger time, Sync time and
    // Altitude. A name that a reader would take for one of the four position
    // channels is refused.
    std::optional<std::vector<std::string>> extraChannels;
    // Filler channels (engine and chassis values nobody reads); -1 adds just
    // enough of them for data lines of about 100 bytes. At most 32 channels in all.
    int fillerChannels = 0;
    // Engine and chassis channels that follow the drive, after all the
    // others: RPM (rpm), Gear, Throttle (%), Brake (bar), Lateral acc (g) and
    // Longitudinal acc (g), worked out from the noise-free speed and the
    // track's curvature (throttle open on the straights, braking before the
    // corners). They draw no random numbers, so every other column stays as
    // it is without them. Not with filler channels (their names overlap).
    bool engineChannels = false;
    bool decimalComma = false;
    bool crlf = false; // also used for the .gxr file
};

struct BinaryOptions {
    int recordLength = 0;       // 33, 34 or 36; 0 lets the seed choose
    double damageRate = 0;      // chance per record of a broken terminator
    bool lastTerminator = true; // false: the file ends right after the last payload
};

struct Options {
    std::uint64_t seed = 1;
    int laps = 10;
    // Centre of the circuit in degrees, east positive. Unset: chosen by the
    // seed, |lat| <= 70, anywhere in longitude.
    std::optional<double> centreLat;
    std::optional<double> centreLon;
    bool finishGate = false; // a second gate elsewhere on the circuit
    // Time of day of the first sample, seconds since midnight. Unset: chosen by
    // the seed so that the session ends before midnight (a session longer than
    // that starts just after midnight and its clock runs on past 24:00).
    std::optional<double> startTime;
    // Let the log clock pass midnight and restart at 0 (the seed puts midnight
    // in the middle of the session unless startTime is given).
    bool crossMidnight = false;
    // Standard deviation of the position noise in metres; unset: 0.2 to 0.5
    // chosen by the seed.
    std::optional<double> noise;
    bool dropouts = true; // occasional stretches of poor satellite reception
    // Fixes a second: 1, 2, 4, 5, 10, 20, 25 or 50, so that the interval is a
    // whole number of hundredths (both logs count hundredths). Below 10 the
    // vehicle may stand at the start of its run-up for a few seconds, long
    // enough for the readers to find their base point before the line.
    int samplesPerSecond = kSamplesPerSecond;
    // Leave out fixes right at each gate crossing: in turn the fix just before
    // the line, the one just after it, and both. The logs simply lack them
    // (their sample indices stay contiguous), so the interval across the line
    // is two or three sample intervals.
    bool dropFixesAtLine = false;
    TextOptions text;
    BinaryOptions binary;
};

struct LatLon {
    double lat = 0; // minutes of arc, north positive
    double lon = 0; // minutes of arc, east positive
};

// One sample as it stands in both logs.
struct WrittenSample {
    std::int64_t centis = 0;   // log clock in hundredths of a second
    std::int32_t latUnits = 0; // 1/100000 minute, north positive
    std::int32_t lonUnits = 0; // 1/100000 minute, east positive
    std::int32_t sats = 0;
    double time() const { return static_cast<double>(centis) / 100.0; } // seconds
    double lat() const { return latUnits / kUnitsPerMinute; }           // minutes
    double lon() const { return lonUnits / kUnitsPerMinute; }           // minutes
};

enum class GateKind { Start, Finish };

// A gate as written to the .gxr file: point 1 is the centre, point 2 gives the
// direction across it.
struct GateUnits {
    std::int64_t long1 = 0, lat1 = 0, long2 = 0, lat2 = 0;
};

struct Crossing {
    GateKind gate = GateKind::Start;
    double elapsed = 0; // seconds since the first sample
    double time = 0;    // seconds since the midnight before the first sample
    // The same on the log's clock. When the clock wraps this lies in
    // [0, 86400): a crossing just before midnight that is detected at the first
    // sample after it comes out of a reader a day lower, slightly below 0.
    double clockTime = 0;
    // First written sample at or after the crossing: where a reader detects it.
    std::int64_t sample = 0;
};

class Trajectory;

struct Session {
    Options options; // as given, with the seed's choices filled in

    std::string gxr;
    std::string zlg;
    std::string wmx;

    // Circuit and timing.
    double centreLat = 0, centreLon = 0; // degrees
    double lapLength = 0;                // metres
    double noiseSigma = 0;               // metres
    double startTime = 0;                // seconds since midnight, first sample
    double standing = 0;                 // seconds standing still before the drive
    int recordLength = 0;
    GateUnits startGate;
    GateUnits finishGate; // all zero without a finish gate

    // Ground truth.
    std::vector<WrittenSample> samples;
    std::vector<Crossing> crossings; // in order of time
    std::vector<double> lapTimes;    // between consecutive crossings
    std::int64_t baseSample = -1;    // tenth good sample, the readers' base point
    // Samples whose binary records the reader skips, in order. Record i of the
    // file holds sample i, so these are also the record positions; the text
    // log keeps every sample. Broken records come in pairs (see binaryIndex).
    std::vector<std::int64_t> droppedSamples;
    int expectedLaps = 0; // crossings - 1

    // One lap of the noise-free path, closed (the last point joins the first).
    std::vector<LatLon> truePath;

    // Noise-free position `elapsed` seconds after the first sample.
    LatLon truePositionAt(double elapsed) const;
    // Distance in metres from a position (minutes, east positive) to the
    // noise-free path.
    double distanceToPath(const LatLon& p) const;
    // Seconds after the first sample at which the noise-free path crosses the
    // line through p1 perpendicular to p1 -> p2, from the side away from p2
    // towards p2's side, within halfWidth metres of p1; in order of time.
    std::vector<double> trueLineCrossings(const LatLon& p1, const LatLon& p2, double halfWidth) const;
    // Noise-free speed in m/s `elapsed` seconds after the first sample.
    double trueSpeedAt(double elapsed) const;
    // Index that the binary reader gives the sample (-1 when it drops it).
    std::int64_t binaryIndex(std::int64_t sample) const;
    // Samples the binary reader decodes.
    std::int64_t binarySampleCount() const { return static_cast<std::int64_t>(samples.size() - droppedSamples.size()); }

    std::shared_ptr<const Trajectory> trajectory;
};

// Throws std::invalid_argument for options out of range.
Session generate(const Options& options);

// Writes stem.gxr, stem.zlg, stem.wmx and stem.truth.json. Throws
// std::runtime_error when a file cannot be written.
void writeSession(const Session& session, const std::string& stem);

// The truth file's contents.
std::string truthJson(const Session& session);

} // namespace lorvane::gen
