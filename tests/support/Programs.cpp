#include "tests/support/Programs.h"

#include <gtest/gtest.h>

#include "platform/Process.h"

namespace testenv {

CommandRun RunProgram(const std::vector<std::string>& argv, const std::string& input, int quietMs) {
    CommandRun run;
    auto child = platform::ChildProcess::Start(argv);
    if (!child) {
        ADD_FAILURE() << "cannot start " << (argv.empty() ? std::string() : argv[0]);
        return run;
    }
    if (!input.empty()) {
        child->WriteInput(input);
    }
    child->CloseInput();
    char buf[4096];
    while (child->Peek(quietMs) > 0) {
        const long n = child->Read(buf, sizeof buf);
        if (n <= 0) {
            break;
        }
        run.output.append(buf, static_cast<size_t>(n));
    }
    child->Wait(-1, &run.exitCode);
    return run;
}

CommandRun RunTolvanectl(const std::vector<std::string>& args) {
    std::vector<std::string> argv = {std::string(TOLVANE_BIN_DIR) + "/tolvanectl"};
    argv.insert(argv.end(), args.begin(), args.end());
    return RunProgram(argv);
}

}  // namespace testenv
