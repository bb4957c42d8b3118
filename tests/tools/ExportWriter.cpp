#include "tests/tools/ExportWriter.h"

#include <sqlite3.h>

#include <cstdio>
#include <fstream>

namespace testkit {
namespace {

void AppendValue(sqlite3_stmt* stmt, int column, std::string& out) {
    switch (sqlite3_column_type(stmt, column)) {
        case SQLITE_INTEGER:
            out += std::to_string(sqlite3_column_int64(stmt, column));
            break;
        case SQLITE_FLOAT: {
            char buf[40];
            std::snprintf(buf, sizeof buf, "%.17g", sqlite3_column_double(stmt, column));
            out += buf;
            break;
        }
        case SQLITE_TEXT: {
            const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(stmt, column));
            const int size = sqlite3_column_bytes(stmt, column);
            out += '"';
            for (int i = 0; i < size; ++i) {
                if (text[i] == '"') {
                    out += '"';
                }
                out += text[i];
            }
            out += '"';
            break;
        }
        default:  // NULL, and blobs, which the format cannot hold
            out += "NULL";
            break;
    }
}

bool WriteFile(const std::string& path, const std::string& text) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(text.data(), static_cast<std::streamsize>(text.size()));
    out.close();
    if (!out) {
        std::fprintf(stderr, "cannot write %s\n", path.c_str());
        return false;
    }
    return true;
}

}  // namespace

bool ExportRows(const std::string& dbPath, const std::string& query, std::string& out) {
    sqlite3* db = nullptr;
    if (sqlite3_open_v2(dbPath.c_str(), &db, SQLITE_OPEN_READONLY, nullptr) != SQLITE_OK) {
        std::fprintf(stderr, "cannot open %s\n", dbPath.c_str());
        sqlite3_close(db);
        return false;
    }
    sqlite3_stmt* stmt = nullptr;
    if (sqlite3_prepare_v2(db, query.c_str(), -1, &stmt, nullptr) != SQLITE_OK) {
        std::fprintf(stderr, "cannot run %s: %s\n", query.c_str(), sqlite3_errmsg(db));
        sqlite3_close(db);
        return false;
    }
    int rc = SQLITE_ROW;
    while ((rc = sqlite3_step(stmt)) == SQLITE_ROW) {
        const int columns = sqlite3_column_count(stmt);
        for (int c = 0; c < columns; ++c) {
            if (c > 0) {
                out += ',';
            }
            AppendValue(stmt, c, out);
        }
        out += "\r\n";
    }
    sqlite3_finalize(stmt);
    sqlite3_close(db);
    return rc == SQLITE_DONE;
}

bool WriteSmsExport(const std::string& dbPath, const std::string& outPath) {
    std::string text;
    return ExportRows(dbPath, kSmsExportQuery, text) && WriteFile(outPath, text);
}

bool WriteContactsExport(const std::string& dbPath, const std::string& outPath) {
    std::string text;
    return ExportRows(dbPath, kContactsExportQuery, text) && WriteFile(outPath, text);
}

}  // namespace testkit
