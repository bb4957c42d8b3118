// Reading a secret without putting it on a command line: from the controlling terminal with the
// echo off, or as one line of standard input.
#pragma once

#include <cstdint>
#include <string>

namespace platform {

// Writes `prompt` to the terminal (/dev/tty), reads one line with the echo off and puts the echo
// back, also when the read fails. False, with `error` set (a system error code), when the process
// has no terminal or the read fails.
bool ReadSecretFromTerminal(const std::string& prompt, std::string& secret, int32_t& error);

// Reads one line from standard input byte by byte (nothing after its line feed is taken, so a
// second secret can follow on the next line). The line feed (and a carriage return before it) is
// dropped. False at the end of the input before any byte, or on a read error.
bool ReadSecretLine(int fd, std::string& secret);

}  // namespace platform
