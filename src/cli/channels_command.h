// lorvane-cli channels: what a log records besides the position, channel by
// channel, with how many of its samples carry a value.
#pragma once

#include "cli/cli_options.h"

namespace lorvane {

// Adds `lorvane-cli channels (--zlg F | --wmx F | --log F) [--json]` to `app`.
cli::CommandRun addChannelsCommand(CLI::App& app);

} // namespace lorvane
