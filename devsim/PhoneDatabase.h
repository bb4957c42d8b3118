// Building a phone database from its schema with SQLite: the schema text as `.schema` prints it,
// minus what a desktop SQLite cannot execute (the sqlite_sequence table it makes itself, and
// virtual tables with the phone's own tokenizer, which are declared through writable_schema so
// that the file still looks like the phone's).
#pragma once

#include <sqlite3.h>

#include <cstdint>
#include <string>
#include <vector>

#include "platform/Handles.h"

namespace devsim {

// Creates a new database file at `path` (which must not exist) with `schema`. Null, with
// `error` set, on failure.
platform::SqlitePtr CreateDatabase(const std::string& path, const std::string& schema,
                                   std::string& error);

// Runs SQL without results; false with `error` set on failure.
bool Exec(sqlite3* db, const std::string& sql, std::string& error);

// A prepared insert with positional values: text (nullptr-able via Null()), integers, blobs.
class Insert {
  public:
    Insert(sqlite3* db, const char* sql);
    Insert& Text(const std::string& value);
    Insert& Int(int64_t value);
    Insert& Blob(const std::string& value);
    Insert& Null();
    // Executes and resets for the next row; false with `error` set on failure.
    bool Run(std::string& error);
    int64_t LastRowId() const;

  private:
    sqlite3* db_;
    platform::SqliteStmtPtr stmt_;
    int index_ = 1;
};

}  // namespace devsim
