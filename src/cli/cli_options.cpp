#include "cli/cli_options.h"

#include <cmath>
#include <iostream>
#include <optional>

#include "formats/numbers.h"

namespace lorvane::cli {

namespace {

// A finite number, locale-free.
std::optional<double> finiteNumber(const std::string& text) {
    auto v = parseDecimal(text);
    if (!v || !std::isfinite(*v)) return std::nullopt;
    return v;
}

} // namespace

namespace {

// The command parsed last, `app` itself when none, and its full name.
const CLI::App* innermost(const CLI::App& app, std::string& command) {
    const CLI::App* at = &app;
    command = app.get_name();
    while (!at->get_subcommands().empty()) {
        at = at->get_subcommands().front();
        command += " " + at->get_name();
    }
    return at;
}

} // namespace

std::string parseErrorMessage(const CLI::ParseError& e, const CLI::App& app) {
    const std::string what = e.what();
    if (dynamic_cast<const CLI::ExtrasError*>(&e)) {
        std::string command;
        const CLI::App* at = innermost(app, command);
        const std::vector<std::string> extras = app.remaining(true);
        for (const std::string& x : extras)
            if (x.size() > 1 && x[0] == '-') return "unknown option '" + x + "'";
        if (!extras.empty()) {
            if (at != &app && at->get_subcommands({}).size() > 0)
                return "unknown " + at->get_name() + " command '" + extras.front() + "'";
            return "unexpected argument '" + extras.front() + "'";
        }
    }
    // "--gate-width: 1 required METRES missing"
    if (dynamic_cast<const CLI::ArgumentMismatch*>(&e) && what.starts_with("-") &&
        what.find(" missing") != std::string::npos) {
        const std::string name = what.substr(0, what.find(':'));
        return name + (name == "--box" ? " needs four values" : " needs a value");
    }
    return what;
}

int usageError(const std::string& message, const CLI::App& app) {
    std::string command;
    innermost(app, command);
    std::cerr << "lorvane-cli: " << message << "\n"
              << "Run '" << command << " --help' for the options.\n";
    return 2;
}

void LogOptions::add(CLI::App& cmd, const std::string& group) {
    zlgOpt_ = cmd.add_option("--zlg", zlg_, "A text log")->type_name("FILE")->group(group);
    wmxOpt_ = cmd.add_option("--wmx", wmx_, "A binary log")->type_name("FILE")->group(group);
    logOpt_ = cmd.add_option("--log", log_, "A log of any format we read, found from its content")
                  ->type_name("FILE")
                  ->group(group);
}

std::size_t LogOptions::count() const {
    return zlgOpt_->count() + wmxOpt_->count() + logOpt_->count();
}

void LogOptions::resolve() {
    if (zlgOpt_->count()) option_ = "--zlg", path_ = zlg_;
    if (wmxOpt_->count()) option_ = "--wmx", path_ = wmx_;
    if (logOpt_->count()) option_ = "--log", path_ = log_;
}

void RuleOptions::add(CLI::App& cmd) {
    const std::string group = "Gate rules";
    directionOpt_ = cmd.add_option("--direction", direction_,
                                   "Crossings that count: both (default), forward or reverse")
                        ->type_name("both|forward|reverse")
                        ->group(group);
    gateWidthOpt_ =
        cmd.add_option("--gate-width", gateWidth_, "Width of the start/finish gate")->type_name("METRES")->group(group);
    minLapOpt_ = cmd.add_option("--min-lap", minLap_, "Shortest lap time counted")->type_name("SECONDS")->group(group);
    maxGapOpt_ = cmd.add_option("--max-gap", maxGap_, "A pause without a fix for longer ends a run (default 10)")
                     ->type_name("SECONDS")
                     ->group(group);
}

void RuleOptions::apply(GateRules& rules) const {
    if (directionOpt_->count()) {
        const auto d = parseDirection(direction_);
        if (!d) throw UsageError("--direction takes both, forward or reverse");
        rules.direction = *d;
    }
    if (gateWidthOpt_->count()) {
        const auto v = finiteNumber(gateWidth_);
        if (!v || !(*v > 0)) throw UsageError("--gate-width takes a number of metres above 0");
        rules.gateWidth = *v;
    }
    if (minLapOpt_->count()) {
        const auto v = finiteNumber(minLap_);
        if (!v || !(*v >= 0)) throw UsageError("--min-lap takes a number of seconds, 0 or more");
        rules.minLap = *v;
    }
    if (maxGapOpt_->count()) {
        const auto v = finiteNumber(maxGap_);
        if (!v || !(*v > 0)) throw UsageError("--max-gap takes a number of seconds above 0");
        rules.maxGap = *v;
    }
}

bool RuleOptions::circuitRulesGiven() const {
    return directionOpt_->count() || gateWidthOpt_->count() || minLapOpt_->count();
}

void SplitOptions::add(CLI::App& cmd, const std::string& group) {
    opt_ = cmd.add_option("--split", values_,
                          "A split line, in driving order (repeat for each): a gate as a .gxr gives it, in "
                          "hundred-thousandths of a minute, point 2 on the side the vehicle crosses to")
               ->type_name("LON1,LAT1,LON2,LAT2")
               ->multi_option_policy(CLI::MultiOptionPolicy::TakeAll)
               ->allow_extra_args(false);
    if (!group.empty()) opt_->group(group);
}

bool SplitOptions::given() const {
    return opt_->count() > 0;
}

std::vector<Gate> SplitOptions::lines() const {
    std::vector<Gate> out;
    for (const std::string& text : values_) {
        const std::string bad = "--split takes LON1,LAT1,LON2,LAT2 in hundred-thousandths of a minute, not '" + text +
                                "'";
        double v[4];
        std::size_t from = 0;
        for (int k = 0; k < 4; ++k) {
            const std::size_t comma = k < 3 ? text.find(',', from) : text.size();
            if (comma == std::string::npos) throw UsageError(bad);
            const auto d = finiteNumber(text.substr(from, comma - from));
            if (!d) throw UsageError(bad);
            v[k] = *d / 100000; // minutes, as the .gxr reader takes them
            from = comma + 1;
        }
        const Gate g{v[1], v[0], v[3], v[2]};
        // Latitude within ±90°, longitude within ±180°, in minutes.
        if (std::fabs(g.lat1) > 5400 || std::fabs(g.lat2) > 5400 || std::fabs(g.long1) > 10800 ||
            std::fabs(g.long2) > 10800)
            throw UsageError("--split '" + text + "' lies off the globe");
        if (g.lat1 == 0 && g.long1 == 0) throw UsageError("--split '" + text + "' has no point 1");
        if (g.lat1 == g.lat2 && g.long1 == g.long2)
            throw UsageError("--split '" + text + "' has its two points in the same place: no direction");
        out.push_back(g);
    }
    return out;
}

std::int32_t lapNumber(const std::string& option, const std::string& text) {
    const auto n = parseInteger(text);
    if (!n || *n < 1) throw UsageError(option + " takes a lap number from 1");
    return *n;
}

} // namespace lorvane::cli
