// Child processes with pipes: the child's standard output and standard error share one pipe that
// the parent can peek at and read; its standard input is a pipe the parent may write and close.
// Each child leads its own process group, so that it and its own children can be ended together.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/Handles.h"

namespace platform {

class ChildProcess {
  public:
    // Starts argv[0] (a path, not searched in PATH) with the given arguments. Returns null and
    // sets `error` (a system error code) when the pipes or the process cannot be made, including
    // when the program cannot be executed.
    static std::unique_ptr<ChildProcess> Start(const std::vector<std::string>& argv,
                                               int32_t* error = nullptr);

    ~ChildProcess();  // ends the process group if it still runs, and reaps the child
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    pid_t Pid() const { return pid_; }

    // Writes all of `data` to the child's standard input; false when the pipe is closed.
    bool WriteInput(const std::string& data);
    void CloseInput();

    // Waits up to `timeoutMs` for output. Returns the number of bytes waiting (0 when none came
    // in time), or -1 when the pipe is at its end (every writer closed it) or broken.
    int Peek(int timeoutMs);

    // Reads up to `size` bytes without waiting longer than Peek would; returns the count, 0 at
    // the end of the output, -1 on error.
    long Read(char* buffer, size_t size);

    // Waits up to `timeoutMs` (negative: for ever) for the child to end. True once it has ended;
    // `exitCode` then holds its exit status, or 128 + signal.
    bool Wait(int timeoutMs, int* exitCode = nullptr);
    bool HasExited();

    // Sends SIGKILL to the child's process group.
    void Kill();

  private:
    ChildProcess(pid_t pid, int inputFd, int outputFd);
    pid_t pid_;
    UniqueFd inputFd_;
    UniqueFd outputFd_;
    bool reaped_ = false;
    int exitCode_ = 0;
};

}  // namespace platform
