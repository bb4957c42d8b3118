// tool "<input folder>" "<output folder>" -
//
// Writes the message and contacts databases of the backup in the input folder, decrypted, into
// the output folder under their hashed names. The password is read as one line from standard
// input when the third argument is "-"; any other third argument is taken as the password itself,
// which every user of the computer can then read in the process list (for manual use only).
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <string>

#include "backuptool/BackupDecryptor.h"
#include "backuptool/Crypto.h"

namespace {

constexpr size_t kMaxPasswordBytes = 64 * 1024;

// One line of standard input, without its line end.
bool ReadPasswordLine(std::string& password) {
    password.clear();
    char c = 0;
    for (;;) {
        const ssize_t n = read(STDIN_FILENO, &c, 1);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0) {
            return false;
        }
        if (n == 0 || c == '\n') {
            break;
        }
        if (password.size() >= kMaxPasswordBytes) {
            return false;
        }
        password.push_back(c);
    }
    if (!password.empty() && password.back() == '\r') {
        password.pop_back();
    }
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 4) {
        (void)std::fprintf(stderr,
                           "usage: %s INPUT_FOLDER OUTPUT_FOLDER -\n"
                           "  reads the backup password as one line from standard input\n",
                           argc > 0 ? argv[0] : "tool");
        return backuptool::kExitUsage;
    }
    std::string password;
    if (std::string(argv[3]) == "-") {
        if (!ReadPasswordLine(password)) {
            (void)std::printf("Error: cannot read the password from standard input\n");
            return backuptool::kExitFailed;
        }
    } else {
        password = argv[3];
    }
    const int exit = backuptool::DecryptDatabases(argv[1], argv[2], password, stdout);
    backuptool::Wipe(password);
    (void)std::fflush(stdout);
    return exit;
}
