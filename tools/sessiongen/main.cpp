// lorvane-gen: writes a synthetic lapping session and its ground truth.

#include <charconv>
#include <cstdint>
#include <cstdio>
#include <exception>
#include <iostream>
#include <optional>
#include <string>
#include <string_view>

#include "sessiongen/format_util.h"
#include "sessiongen/session_gen.h"

namespace {

constexpr const char* kUsage = R"(Usage: lorvane-gen --seed N [options]

Writes a synthetic lapping session: STEM.gxr (start/finish line), STEM.zlg
(text log), STEM.wmx (binary log) and STEM.truth.json (true crossing times,
lap times, sample count, binary records a reader drops).

  --seed N              seed deciding everything not given below (required)
  --laps N              complete laps between the first and last crossing (10)
  --lat DEG --lon DEG   centre of the circuit, degrees, east positive
                        (default: chosen by the seed)
  --finish              add a separate finish gate elsewhere on the circuit
  --start-time T        time of day of the first sample, HH:MM:SS[.ss] or
                        seconds since midnight (default: chosen by the seed)
  --cross-midnight      let the log clock pass midnight and restart at 0
  --noise M             position noise in metres (default: 0.2 to 0.5)
  --no-dropouts         no stretches of poor satellite reception
  --rate HZ             fixes a second: 1, 2, 4, 5, 10, 20, 25 or 50 (10)
  --drop-at-line        leave out the fixes right before and/or after each
                        gate crossing
  --comma               decimal commas in the text log
  --crlf                CR LF line ends in the text files
  --filler-channels N   extra filler channels in the text log; "auto" adds
                        enough for data lines of about 100 bytes
  --engine-channels     add RPM, Gear, Throttle, Brake, Lateral acc and
                        Longitudinal acc to the text log, following the drive
  --channels A,B,...    extra text log channels instead of the seed's choice
                        (may be empty: --channels "")
  --record-length L     binary record length 33, 34 or 36 (default: by seed)
  --damage-rate R       chance per binary record of a broken terminator (0)
  --no-terminator       the binary log's last record lacks its '$'
  --out STEM            output path without extension (default: session)
  --quiet               no summary on standard output
  --help                this text
)";

struct UsageError {
    std::string message;
};

template <class T>
T number(std::string_view opt, std::string_view text) {
    T v{};
    auto r = std::from_chars(text.data(), text.data() + text.size(), v);
    if (r.ec != std::errc() || r.ptr != text.data() + text.size())
        throw UsageError{std::string(opt) + ": not a number: '" + std::string(text) + "'"};
    return v;
}

// HH:MM:SS[.ss] or plain seconds.
double timeOfDay(std::string_view text) {
    const auto c1 = text.find(':');
    if (c1 == std::string_view::npos) return number<double>("--start-time", text);
    const auto c2 = text.find(':', c1 + 1);
    if (c2 == std::string_view::npos) throw UsageError{"--start-time: expected HH:MM:SS"};
    const int h = number<int>("--start-time", text.substr(0, c1));
    const int m = number<int>("--start-time", text.substr(c1 + 1, c2 - c1 - 1));
    const double s = number<double>("--start-time", text.substr(c2 + 1));
    return h * 3600.0 + m * 60.0 + s;
}

std::vector<std::string> splitList(std::string_view text) {
    std::vector<std::string> out;
    while (!text.empty()) {
        const auto comma = text.find(',');
        out.emplace_back(text.substr(0, comma));
        if (comma == std::string_view::npos) break;
        text.remove_prefix(comma + 1);
    }
    return out;
}

} // namespace

int main(int argc, char** argv) {
    using namespace lorvane::gen;
    Options o;
    std::string stem = "session";
    bool haveSeed = false, quiet = false;
    try {
        for (int i = 1; i < argc; ++i) {
            const std::string_view a = argv[i];
            auto value = [&]() -> std::string_view {
                if (i + 1 >= argc) throw UsageError{std::string(a) + " needs a value"};
                return argv[++i];
            };
            if (a == "--help" || a == "-h") {
                std::cout << kUsage;
                return 0;
            } else if (a == "--seed") {
                o.seed = number<std::uint64_t>(a, value());
                haveSeed = true;
            } else if (a == "--laps") {
                o.laps = number<int>(a, value());
            } else if (a == "--lat") {
                o.centreLat = number<double>(a, value());
            } else if (a == "--lon") {
                o.centreLon = number<double>(a, value());
            } else if (a == "--finish") {
                o.finishGate = true;
            } else if (a == "--start-time") {
                o.startTime = timeOfDay(value());
            } else if (a == "--cross-midnight") {
                o.crossMidnight = true;
            } else if (a == "--noise") {
                o.noise = number<double>(a, value());
            } else if (a == "--no-dropouts") {
                o.dropouts = false;
            } else if (a == "--rate") {
                o.samplesPerSecond = number<int>(a, value());
            } else if (a == "--drop-at-line") {
                o.dropFixesAtLine = true;
            } else if (a == "--comma") {
                o.text.decimalComma = true;
            } else if (a == "--crlf") {
                o.text.crlf = true;
            } else if (a == "--filler-channels") {
                const std::string_view v = value();
                o.text.fillerChannels = v == "auto" ? -1 : number<int>(a, v);
            } else if (a == "--engine-channels") {
                o.text.engineChannels = true;
            } else if (a == "--channels") {
                o.text.extraChannels = splitList(value());
            } else if (a == "--record-length") {
                o.binary.recordLength = number<int>(a, value());
            } else if (a == "--damage-rate") {
                o.binary.damageRate = number<double>(a, value());
            } else if (a == "--no-terminator") {
                o.binary.lastTerminator = false;
            } else if (a == "--out") {
                stem = value();
            } else if (a == "--quiet") {
                quiet = true;
            } else {
                throw UsageError{"unknown option " + std::string(a)};
            }
        }
        if (!haveSeed) throw UsageError{"--seed is required"};
    } catch (const UsageError& e) {
        std::cerr << "lorvane-gen: " << e.message << "\n(try --help)\n";
        return 2;
    }

    try {
        const Session s = generate(o);
        writeSession(s, stem);
        if (!quiet) {
            std::string msg = "wrote " + stem + ".gxr, .zlg, .wmx, .truth.json: ";
            appendInt(msg, static_cast<std::int64_t>(s.samples.size()));
            msg += " samples, ";
            appendInt(msg, s.expectedLaps);
            msg += " laps of ";
            appendFixed(msg, s.lapLength, 0);
            msg += " m near ";
            appendFixed(msg, s.centreLat, 4);
            msg += ", ";
            appendFixed(msg, s.centreLon, 4);
            msg += ", record length ";
            appendInt(msg, s.recordLength);
            msg += ", ";
            appendInt(msg, static_cast<std::int64_t>(s.droppedSamples.size()));
            msg += " records damaged or skipped\n";
            std::cout << msg;
        }
    } catch (const std::exception& e) {
        std::cerr << "lorvane-gen: " << e.what() << '\n';
        return 1;
    }
    return 0;
}
