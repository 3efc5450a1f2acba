// `lorvane-cli compare`: every lap of a log against the lap of a reference
// file. Definitions in docs/analysis.md.
#pragma once

#include "cli/cli_options.h"

namespace lorvane {

// Adds `lorvane-cli compare --ref FILE (--zlg F | --wmx F | --log F)
// [--gxr F | --circuit NAME [--db PATH]] [RULES] [--json]` to `app`.
cli::CommandRun addCompareCommand(CLI::App& app);

} // namespace lorvane
