// lorvane-cli convert: any log we read, written as a text log, so that an
// imported session can go to tools that take only the logger's own format.
#include "cli/convert_command.h"

#include <cmath>
#include <cstring>
#include <iostream>
#include <string>

#include "cli/log_arg.h"
#include "formats/any_log.h"
#include "formats/numbers.h"
#include "reference/reference_file.h"

namespace lorvane {

namespace {

const char* kConvertUsage = "usage: lorvane-cli convert (--log FILE | --zlg FILE | --wmx FILE) -o OUT.zlg\n";

int convertUsage(const std::string& why) {
    if (!why.empty()) std::cerr << "lorvane-cli: " << why << "\n";
    std::cerr << kConvertUsage;
    return 2;
}

// Every sample as a data line: satellites (99 when the log does not say),
// time of day hhmmss.ss, latitude and longitude in minutes, longitude
// positive west, each written so that it reads back as the same number.
class TextLogWriter : public SampleSink {
public:
    explicit TextLogWriter(std::string& out) : out_(out) {
        out_ +=
            "[header]\r\nSatellites\r\nTime\r\nLatitude\r\nLongitude\r\n[channel units]\r\n\r\n\r\n\r\n\r\n[data]\r\n";
    }
    void layout(const LogLayout& l) override { tps_ = l.ticksPerSecond > 0 ? l.ticksPerSecond : 100; }
    bool sample(const Sample& s) override {
        if (!s.hasPosition) return true; // no fix: nothing to write
        out_ += formatPadded(s.satsKnown ? s.sats : 99, 1);
        out_ += ' ';
        // Hundredths of the time of day, rounded from the log's own ticks.
        std::int64_t c = (s.clock * 100 + tps_ / 2) / tps_;
        if (s.clock < 0) c = 0;
        c %= 8640000;
        const std::int64_t h = c / 360000, m = c / 6000 % 60, sec = c % 6000;
        out_ += formatPadded(h, 2);
        out_ += formatPadded(m, 2);
        out_ += formatPadded(sec / 100, 2);
        out_ += '.';
        out_ += formatPadded(sec % 100, 2);
        out_ += ' ';
        out_ += formatRoundTrip(s.lat);
        out_ += ' ';
        out_ += formatRoundTrip(s.lon == 0 ? 0.0 : -s.lon);
        out_ += "\r\n";
        ++count_;
        return true;
    }
    std::int64_t count() const { return count_; }

private:
    std::string& out_;
    std::int64_t tps_ = 100;
    std::int64_t count_ = 0;
};

} // namespace

int runConvert(int argc, char** argv) {
    std::string logOption, log, out;
    for (int i = 2; i < argc; ++i) {
        const std::string opt = argv[i];
        if (i + 1 >= argc)
            return convertUsage(opt == "-o" || cli::isLogOption(opt) ? opt + " needs a value"
                                                                     : "unknown option '" + opt + "'");
        if (cli::isLogOption(opt)) {
            if (!log.empty()) return convertUsage("give one log");
            logOption = opt;
            log = argv[++i];
        } else if (opt == "-o") {
            out = argv[++i];
        } else {
            return convertUsage("unknown option '" + opt + "'");
        }
    }
    if (log.empty()) return convertUsage("--log FILE is required");
    if (out.empty()) return convertUsage("-o OUT.zlg is required");
    try {
        const LogKind kind = cli::logKindFor(logOption, log);
        std::string text;
        TextLogWriter writer(text);
        readAnyLog(kind, log, writer);
        // Composed in full first: a failure leaves an existing file as it was.
        writeFileAtomically(out, text);
        std::cout << out << ": " << writer.count() << " samples\n";
    } catch (const LoadError& e) {
        std::cerr << "lorvane-cli: " << e.diagnostic().message;
        const std::string w = e.diagnostic().where();
        if (!w.empty()) std::cerr << " (" << w << ")";
        std::cerr << "\n";
        return 1;
    }
    return 0;
}

} // namespace lorvane
