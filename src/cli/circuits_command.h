// `lorvane-cli circuits ...`: the circuit database from the command line.
#pragma once

#include "cli/cli_options.h"

namespace lorvane {

// Adds `circuits` and its commands to `app`; the work returned runs the one
// parsed and returns the exit status (0 done, 1 error).
cli::CommandRun addCircuitsCommand(CLI::App& app);

} // namespace lorvane
