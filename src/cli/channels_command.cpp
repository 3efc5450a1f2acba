#include "cli/channels_command.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "cli/cli_util.h"
#include "cli/json_out.h"
#include "cli/log_arg.h"
#include "formats/any_log.h"

namespace lorvane {

namespace {

// Counts, over every sample the reader hands on, the values of each channel.
class ChannelCounter : public SampleSink {
public:
    bool wantsChannels() const override { return true; }
    void layout(const LogLayout& l) override {
        channels = l.channels;
        counts.assign(channels.size(), 0);
    }
    bool sample(const Sample& s) override {
        const std::size_t n = std::min(s.channels.size(), counts.size());
        for (std::size_t i = 0; i < n; ++i)
            if (!std::isnan(s.channels[i])) ++counts[i];
        return true;
    }
    std::vector<ChannelInfo> channels;
    std::vector<std::int64_t> counts;
};

// Characters of UTF-8 text, for the table's columns.
std::size_t shownWidth(const std::string& s) {
    return static_cast<std::size_t>(
        std::count_if(s.begin(), s.end(), [](char c) { return (static_cast<unsigned char>(c) & 0xC0) != 0x80; }));
}

void pad(std::string& out, const std::string& s, std::size_t width, bool right) {
    const std::string blanks(width > shownWidth(s) ? width - shownWidth(s) : 0, ' ');
    out += right ? blanks + s : s + blanks;
}

struct ChannelsArgs {
    cli::LogOptions log;
    bool json = false;
};

int runChannels(ChannelsArgs& a) {
    if (a.log.count() > 1) throw cli::UsageError("give one log, --zlg, --wmx or --log");
    if (a.log.count() == 0) throw cli::UsageError("--zlg FILE, --wmx FILE or --log FILE is required");
    a.log.resolve();
    ChannelCounter counter;
    try {
        const LogKind kind = cli::logKindFor(a.log.option(), a.log.path());
        readAnyLog(kind, a.log.path(), counter);
    } catch (const LoadError& e) {
        return cli::reportError(e.diagnostic());
    }
    std::string out;
    if (a.json) {
        cli::Json list = cli::Json::array();
        for (std::size_t i = 0; i < counter.channels.size(); ++i)
            list.push_back({{"name", counter.channels[i].name},
                            {"unit", counter.channels[i].unit},
                            {"samples", counter.counts[i]}});
        out = cli::dumpJson(list, cli::JsonNumbers::Shortest) + "\n";
    } else {
        std::vector<std::string> counts;
        std::size_t nameWidth = 4, unitWidth = 4, countWidth = 7;
        for (std::size_t i = 0; i < counter.channels.size(); ++i) {
            counts.push_back(std::to_string(counter.counts[i]));
            nameWidth = std::max(nameWidth, shownWidth(counter.channels[i].name));
            unitWidth = std::max(unitWidth, shownWidth(counter.channels[i].unit));
            countWidth = std::max(countWidth, counts.back().size());
        }
        auto row = [&](const std::string& name, const std::string& unit, const std::string& count) {
            pad(out, name, nameWidth, false);
            out += "  ";
            pad(out, unit, unitWidth, false);
            out += "  ";
            pad(out, count, countWidth, true);
            out += '\n';
        };
        if (counter.channels.empty()) {
            // Said on the error stream: the listing itself is empty.
            std::fprintf(stderr, "%s: the log records no channel besides its position and time\n",
                         a.log.path().c_str());
            return 0;
        }
        row("name", "unit", "samples");
        for (std::size_t i = 0; i < counter.channels.size(); ++i)
            row(counter.channels[i].name, counter.channels[i].unit, counts[i]);
    }
    std::fwrite(out.data(), 1, out.size(), stdout);
    std::fflush(stdout);
    return 0;
}

} // namespace

cli::CommandRun addChannelsCommand(CLI::App& app) {
    auto a = std::make_shared<ChannelsArgs>();
    CLI::App* cmd = app.add_subcommand("channels",
                                       "List the channels a log records: name, unit and how many samples have a value");
    a->log.add(*cmd);
    cmd->add_flag("--json", a->json, "As a JSON array of {\"name\", \"unit\", \"samples\"}");
    return [a] { return runChannels(*a); };
}

} // namespace lorvane
