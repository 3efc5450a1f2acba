// `lorvane-cli circuits ...`: the circuit database from the command line.
#pragma once

namespace lorvane {

// argv[0] is "circuits"; returns the exit code (0 done, 1 error, 2 usage).
int runCircuitsCommand(int argc, char** argv);

} // namespace lorvane
