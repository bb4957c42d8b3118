#include <gtest/gtest.h>
#include <signal.h>

#include <chrono>
#include <thread>

#include "platform/Errors.h"
#include "platform/Process.h"

using namespace platform;

namespace {
// Reads everything the child writes until the end of its output.
std::string Drain(ChildProcess& child) {
    std::string out;
    char buf[4096];
    for (;;) {
        const int waiting = child.Peek(5000);
        if (waiting < 0) {
            break;
        }
        if (waiting == 0) {
            continue;
        }
        const long n = child.Read(buf, sizeof buf);
        if (n <= 0) {
            break;
        }
        out.append(buf, static_cast<size_t>(n));
    }
    return out;
}
}  // namespace

TEST(Process, StdoutAndStderrShareOnePipe) {
    auto child = ChildProcess::Start({"/bin/sh", "-c", "echo out; echo err 1>&2; exit 3"});
    ASSERT_NE(child, nullptr);
    const std::string out = Drain(*child);
    EXPECT_NE(out.find("out\n"), std::string::npos);
    EXPECT_NE(out.find("err\n"), std::string::npos);
    int code = -1;
    EXPECT_TRUE(child->Wait(5000, &code));
    EXPECT_EQ(code, 3);
}

TEST(Process, InputReachesTheChild) {
    auto child = ChildProcess::Start({"/bin/sh", "-c", "read line; echo got:$line"});
    ASSERT_NE(child, nullptr);
    ASSERT_TRUE(child->WriteInput("secret with blanks\n"));
    child->CloseInput();
    EXPECT_EQ(Drain(*child), "got:secret with blanks\n");
}

TEST(Process, PeekReportsNothingWhileTheChildIsSilent) {
    auto child = ChildProcess::Start({"/bin/sh", "-c", "sleep 0.3; printf x"});
    ASSERT_NE(child, nullptr);
    EXPECT_EQ(child->Peek(5), 0);
    EXPECT_EQ(Drain(*child), "x");
    EXPECT_EQ(child->Peek(5), -1);  // drained and ended
}

TEST(Process, MissingProgramCannotBeStarted) {
    int32_t error = 0;
    auto child = ChildProcess::Start({"/nonexistent/tool"}, &error);
    EXPECT_EQ(child, nullptr);
    EXPECT_EQ(error, kErrorFileNotFound);
}

TEST(Process, ChildLeadsItsOwnGroupAndIsEndedWithIt) {
    auto child = ChildProcess::Start({"/bin/sh", "-c", "sleep 30 & sleep 30"});
    ASSERT_NE(child, nullptr);
    EXPECT_EQ(getpgid(child->Pid()), child->Pid());
    EXPECT_FALSE(child->HasExited());
    const auto start = std::chrono::steady_clock::now();
    child->Kill();
    int code = 0;
    EXPECT_TRUE(child->Wait(5000, &code));
    EXPECT_EQ(code, 128 + SIGKILL);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
}

TEST(Process, DestroyingARunningChildEndsIt) {
    pid_t pid;
    {
        auto child = ChildProcess::Start({"/bin/sleep", "30"});
        ASSERT_NE(child, nullptr);
        pid = child->Pid();
    }
    EXPECT_NE(kill(pid, 0), 0);  // gone and reaped
}
