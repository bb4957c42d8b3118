// Runs the built tolvanectl as a script runs it, for the tests of its commands end to end.
#pragma once

#include <string>
#include <vector>

namespace testenv {

struct CommandRun {
    int exitCode = -1;
    std::string output;  // standard output and standard error together
};

// Runs tolvanectl with `args` and no input, and waits for it to end (reading stops when it prints
// nothing for two minutes). Fails the test when the program cannot be started.
CommandRun RunTolvanectl(const std::vector<std::string>& args);

}  // namespace testenv
