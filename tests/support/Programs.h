// Runs programs to their end for tests: the built tolvanectl as a script runs it, and any other.
#pragma once

#include <string>
#include <vector>

namespace testenv {

struct CommandRun {
    int exitCode = -1;
    std::string output;  // standard output and standard error together
};

// Runs `argv`, writes `input` to it and closes its input, and waits for it to end. Reading stops
// when it prints nothing for `quietMs`. Fails the test when the program cannot be started.
CommandRun RunProgram(const std::vector<std::string>& argv, const std::string& input = {},
                      int quietMs = 120000);

// Runs tolvanectl with `args` and no input (reading stops when it prints nothing for two
// minutes).
CommandRun RunTolvanectl(const std::vector<std::string>& args);

}  // namespace testenv
