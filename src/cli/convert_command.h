#pragma once

#include "cli/cli_options.h"

namespace lorvane {
// Adds `lorvane-cli convert (--log FILE | --zlg FILE | --wmx FILE) -o OUT.zlg` to `app`.
cli::CommandRun addConvertCommand(CLI::App& app);
} // namespace lorvane
