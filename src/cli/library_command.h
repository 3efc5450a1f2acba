// `lorvane-cli library ...`: the session library from the command line, and
// `ref --session`, the reference file of a stored session's lap.
#pragma once

#include <string>

#include "cli/cli_options.h"

namespace lorvane {

// Adds `library` with add, list and best to `app`; the work returned runs the
// one parsed and returns the exit status (0 done, 1 an error or a file refused).
cli::CommandRun addLibraryCommand(CLI::App& app);

// `ref --session ID --lap N|best`: loads the stored session's log again with
// the circuit lines and rules it was stored with and writes the lap's
// reference file to `out`, as `ref` on that log writes it. Refused when the
// file is gone or its content changed since it was added. Throws
// cli::UsageError for a bad ID or lap; returns the exit status.
int runStoredRef(const std::string& dbPath, const std::string& session, const std::string& lap, bool fixed,
                 const std::string& out);

} // namespace lorvane
