// What `tolvanectl messages` and `tolvanectl contacts` share: their arguments, and how a listed
// item becomes one line of output.
#pragma once

#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "platform/Results.h"

namespace tolvane {
class BackupEngine;
}

namespace tolvane::cli {

struct ListingOptions {
    std::string folder;                   // the backup's folder
    bool itunes = false;                  // a backup of the other program
    std::optional<std::string> password;  // opens an encrypted one (with --itunes only)
};

// Parses "BACKUP [--itunes] [--password P]". Returns false with `problem` set otherwise.
bool ParseListingOptions(const std::vector<std::string>& args, ListingOptions& options,
                         std::string& problem);

// One listed item as one line of UTF-8 text, without its line feed: a backslash, line feed and
// carriage return inside the item are written as \\, \n and \r, so every item stays one line.
std::string ListingLine(const std::wstring& item);

// Prints "<count> <noun>" and then every item on its own line.
void PrintListing(std::FILE* out, const std::vector<std::wstring>& items, const char* noun);

using ListFunction = int32_t (*)(std::vector<std::wstring>&, const std::string&, BackupEngine&,
                                 const char*, bool);

// The sentence shown for a failed listing when no text was left, from what the engine says the
// result stands for; `database` names the file ("message database").
std::string ListingFailureText(platform::Failure what, const char* database);

// Runs one of the listings for the command `name` and prints what it found; `noun` names the
// items ("messages"), `database` the file they come from ("message database").
int RunListingCommand(const char* name, const char* noun, const char* database, ListFunction list,
                      const std::vector<std::string>& args);

}  // namespace tolvane::cli
