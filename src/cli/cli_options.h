// The command line of lorvane-cli on CLI11: the options several commands
// share, defined once, and the usage errors (exit status 2).
#pragma once

#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

#include <CLI/CLI.hpp>

#include "formats/start_finish.h"
#include "laps/gate_rules.h"

namespace lorvane::cli {

// A command line that asks for something we cannot do: the message goes to
// stderr as `lorvane-cli: MESSAGE` and the exit status is 2.
struct UsageError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// `lorvane-cli: MESSAGE` and where to find help, on stderr; returns the exit
// status 2. `app` is the program: the help named is that of the command parsed.
int usageError(const std::string& message, const CLI::App& app);

// The usage error for an error CLI11 found while parsing, in our words where
// we have them.
std::string parseErrorMessage(const CLI::ParseError& e, const CLI::App& app);

// A command's work once its options are parsed; returns the exit status.
using CommandRun = std::function<int()>;

// --zlg FILE | --wmx FILE | --log FILE: the one log of a command.
class LogOptions {
public:
    void add(CLI::App& cmd, const std::string& group = "Log");
    // How many log options were given (each time counts).
    std::size_t count() const;
    // The option given, "--zlg", "--wmx" or "--log" (empty when none), and its file.
    const std::string& option() const { return option_; }
    const std::string& path() const { return path_; }
    // Fills option() and path() after parsing.
    void resolve();

private:
    std::string zlg_, wmx_, log_, option_, path_;
    CLI::Option *zlgOpt_ = nullptr, *wmxOpt_ = nullptr, *logOpt_ = nullptr;
};

// The gate rules of laps, ref and trace: --direction, --gate-width, --min-lap
// and --max-gap, read locale-free.
class RuleOptions {
public:
    void add(CLI::App& cmd);
    // Sets the rules given over `rules`; throws UsageError for a bad value.
    void apply(GateRules& rules) const;
    // Whether a rule of the circuit (direction, gate width, minimum lap) was
    // given; --max-gap belongs to the recording and does not count.
    bool circuitRulesGiven() const;

private:
    std::string direction_, gateWidth_, minLap_, maxGap_;
    CLI::Option *directionOpt_ = nullptr, *gateWidthOpt_ = nullptr, *minLapOpt_ = nullptr, *maxGapOpt_ = nullptr;
};

// --split LON1,LAT1,LON2,LAT2, repeatable: split lines in driving order, each
// given as a .gxr gives a gate (hundred-thousandths of a minute of arc,
// longitude first, east and north positive).
class SplitOptions {
public:
    // In `group` of the help (empty: the command's own options).
    void add(CLI::App& cmd, const std::string& group = "Gate rules");
    bool given() const;
    // The lines given, in order; throws UsageError for a bad value.
    std::vector<Gate> lines() const;

private:
    std::vector<std::string> values_;
    CLI::Option* opt_ = nullptr;
};

// The lap number in `text`, from 1; throws UsageError `OPTION takes a lap number from 1`.
std::int32_t lapNumber(const std::string& option, const std::string& text);

} // namespace lorvane::cli
