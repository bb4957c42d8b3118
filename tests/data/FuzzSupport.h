// What the two export fuzz targets share: the input in a buffer of exactly its size (so that
// AddressSanitizer sees any read beyond it), the checks on a scanned record, and a real-schema
// database made once, opened in memory and merged into for every input.
#pragma once

#include <sqlite3.h>
#include <unistd.h>

#include <array>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "data/SqlLiterals.h"
#include "engine/BackupEngine.h"
#include "tests/data/LiteralCheck.h"
#include "tests/tools/RealSchemaDb.h"

namespace fuzzsupport {

inline void Check(bool condition) {
    if (!condition) {
        __builtin_trap();
    }
}

class ExactBuffer {
  public:
    ExactBuffer(const uint8_t* data, size_t size)
        : bytes_(new char[size == 0 ? 1 : size]), size_(size) {
        if (size > 0) {
            std::memcpy(bytes_.get(), data, size);
        }
    }
    std::string_view View() const { return {bytes_.get(), size_}; }

  private:
    std::unique_ptr<char[]> bytes_;
    size_t size_;
};

// The bytes of a database file built by `build` from a fresh path.
inline std::string BuildImage(const std::function<bool(const std::string&)>& build) {
    char folder[] = "/tmp/tolvane-fuzz-XXXXXX";
    Check(mkdtemp(folder) != nullptr);
    const std::string path = std::string(folder) + "/image.db";
    Check(build(path));
    std::string image;
    {
        FILE* f = std::fopen(path.c_str(), "rb");
        Check(f != nullptr);
        char chunk[65536];
        size_t n = 0;
        while ((n = std::fread(chunk, 1, sizeof chunk, f)) > 0) {
            image.append(chunk, n);
        }
        std::fclose(f);
    }
    std::remove(path.c_str());
    rmdir(folder);
    return image;
}

// An in-memory copy of `image`, opened once: parsing the schema for every input would cost
// more than the input itself.
inline testkit::Database& SharedImage(const std::string& image) {
    static testkit::Database db = [&] {
        testkit::Database opened(":memory:");
        auto* copy = static_cast<unsigned char*>(sqlite3_malloc64(image.size()));
        Check(copy != nullptr);
        std::memcpy(copy, image.data(), image.size());
        Check(sqlite3_deserialize(
                  opened.Get(), "main", copy, static_cast<sqlite3_int64>(image.size()),
                  static_cast<sqlite3_int64>(image.size()),
                  SQLITE_DESERIALIZE_FREEONCLOSE | SQLITE_DESERIALIZE_RESIZEABLE) == SQLITE_OK);
        return opened;
    }();
    return db;
}

// A statement of the harness, prepared once on the shared database (compiling it for every
// input would cost more than the merge of a small input).
inline sqlite3_stmt* Kept(testkit::Database& db, const char* sql) {
    sqlite3_stmt* stmt = nullptr;
    Check(sqlite3_prepare_v2(db.Get(), sql, -1, &stmt, nullptr) == SQLITE_OK);
    return stmt;  // lives as long as the process
}

inline void Step(sqlite3_stmt* stmt) {
    Check(sqlite3_step(stmt) == SQLITE_DONE);
    sqlite3_reset(stmt);
}

// Runs `merge` on the shared database and undoes what it did. The merge's own transaction cannot
// open inside the savepoint, so its statements run one by one, as they do when a transaction
// cannot be had.
inline void MergeAndUndo(testkit::Database& db, const std::function<void()>& merge) {
    static sqlite3_stmt* const begin = Kept(db, "SAVEPOINT fuzz;");
    static sqlite3_stmt* const undo = Kept(db, "ROLLBACK TO fuzz;");
    static sqlite3_stmt* const release = Kept(db, "RELEASE fuzz;");
    Step(begin);
    merge();
    Step(undo);
    Step(release);
}

// Whatever the input, `merge` into the shared copy of `image` only adds rows: the schema stays
// as it was, and so do the rows `keptQuery` selects. What it did is undone afterwards. What they
// are compared with is read on the first input (a fuzz target has one image and one query).
// `Merger` (MessageExportMerger, ContactExportMerger) is made once on the shared copy, so its
// statements are compiled once, and merges every input.
template <typename Merger>
void CheckMergeOnlyAdds(const std::string& image, const char* keptQuery, std::string_view input) {
    testkit::Database& db = SharedImage(image);
    // Made first: the merge's authorizer, installed once, expires what was prepared before it.
    static Merger merger(db.Get());
    // Any change of the schema (a table dropped or made) changes its version.
    static sqlite3_stmt* const schemaQuery = Kept(db, "PRAGMA schema_version;");
    static sqlite3_stmt* const keptRows = Kept(db, keptQuery);
    static const auto schema = testkit::StatementRows(schemaQuery);
    static const auto kept = testkit::StatementRows(keptRows);
    Check(!schema.empty() && !kept.empty());
    // One engine for the process: a merge only leaves its error text there.
    static tolvane::BackupEngine engine;
    MergeAndUndo(db, [&] {
        merger.Merge(engine, input);
        Check(testkit::StatementRows(schemaQuery) == schema);
        Check(testkit::StatementRows(keptRows) == kept);
    });
}

// A record the scan handed out: a piece of `input` that ends in CR.
inline void CheckRecord(std::string_view input, std::string_view text) {
    Check(text.data() >= input.data() && text.data() + text.size() <= input.data() + input.size());
    Check(!text.empty() && text.back() == '\r');
}

// Where the literal reader accepts a value list, its values must be SQLite's own. The reader runs
// on every list; SQLite's answer for a list is the same every time, so a list compared already
// (most records of an input are those of the input it was mutated from) is not compared again.
// The lists compared are remembered by hash in a table of fixed size: memory that grew with the
// inputs would look like a leak to libFuzzer after every input.
inline void CheckLiterals(std::string_view list) {
    static std::vector<tolvane::SqlLiteral> literals;
    if (!tolvane::ParseSqlLiterals(list, literals)) {
        return;
    }
    static std::array<size_t, 1 << 16> compared{};
    const size_t hash = std::hash<std::string_view>{}(list) | 1;  // 0 marks an empty slot
    size_t& slot = compared[hash & (compared.size() - 1)];
    if (slot == hash) {
        return;
    }
    static testkit::Database scratch(":memory:");
    Check(testdata::LiteralsDifferFromSqlite(scratch.Get(), list, literals).empty());
    slot = hash;
}

}  // namespace fuzzsupport
