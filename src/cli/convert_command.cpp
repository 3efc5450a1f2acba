// lorvane-cli convert: any log we read, written as a text log, so that an
// imported session can go to tools that take only the logger's own format.
#include "cli/convert_command.h"

#include <cmath>
#include <iostream>
#include <memory>
#include <string>

#include "cli/cli_util.h"
#include "cli/log_arg.h"
#include "formats/any_log.h"
#include "formats/numbers.h"
#include "reference/reference_file.h"

namespace lorvane {

namespace {

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

struct ConvertArgs {
    cli::LogOptions log;
    std::string out;
    CLI::Option* outOpt = nullptr;
};

int runConvert(ConvertArgs& a) {
    if (a.log.count() > 1) throw cli::UsageError("give one log");
    if (a.log.count() == 0) throw cli::UsageError("--log FILE is required");
    if (!a.outOpt->count()) throw cli::UsageError("-o OUT.zlg is required");
    a.log.resolve();
    const std::string &logOption = a.log.option(), &log = a.log.path(), &out = a.out;
    try {
        const LogKind kind = cli::logKindFor(logOption, log);
        std::string text;
        TextLogWriter writer(text);
        readAnyLog(kind, log, writer);
        // Composed in full first: a failure leaves an existing file as it was.
        writeFileAtomically(out, text);
        std::cout << out << ": " << writer.count() << " samples\n";
    } catch (const LoadError& e) {
        return cli::reportError(e.diagnostic());
    }
    return 0;
}

} // namespace

cli::CommandRun addConvertCommand(CLI::App& app) {
    auto a = std::make_shared<ConvertArgs>();
    CLI::App* cmd = app.add_subcommand("convert", "Write any log we read as a text log");
    a->log.add(*cmd);
    a->outOpt = cmd->add_option("-o", a->out, "The text log to write (required)")->type_name("OUT.zlg");
    return [a] { return runConvert(*a); };
}

} // namespace lorvane
