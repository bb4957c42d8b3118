// Compares what the literal reader made of a value list with what SQLite makes of it, value by
// value: type and bytes. Shared by the unit test and the fuzz targets.
#pragma once

#include <sqlite3.h>

#include <string>
#include <string_view>
#include <vector>

#include "data/SqlLiterals.h"

namespace testdata {

// "" when SQLite evaluates "VALUES(list);" to exactly `literals`, else what differs.
inline std::string LiteralsDifferFromSqlite(sqlite3* db, std::string_view list,
                                            const std::vector<tolvane::SqlLiteral>& literals) {
    const std::string sql = "VALUES(" + std::string(list) + ");";
    sqlite3_stmt* stmt = nullptr;
    if (sqlite3_prepare_v2(db, sql.data(), static_cast<int>(sql.size()), &stmt, nullptr) !=
        SQLITE_OK) {
        sqlite3_finalize(stmt);
        return "SQLite refuses the list: " + std::string(sqlite3_errmsg(db));
    }
    std::string diff;
    if (sqlite3_step(stmt) != SQLITE_ROW) {
        diff = "no row";
    } else if (sqlite3_column_count(stmt) != static_cast<int>(literals.size())) {
        diff = "column count";
    } else {
        for (int i = 0; i < sqlite3_column_count(stmt) && diff.empty(); ++i) {
            const tolvane::SqlLiteral& lit = literals[static_cast<size_t>(i)];
            const int type = sqlite3_column_type(stmt, i);
            switch (lit.kind) {
                case tolvane::SqlLiteral::Kind::Null:
                    if (type != SQLITE_NULL) {
                        diff = "value " + std::to_string(i) + " is no NULL";
                    }
                    break;
                case tolvane::SqlLiteral::Kind::Integer:
                    if (type != SQLITE_INTEGER || sqlite3_column_int64(stmt, i) != lit.integer) {
                        diff = "value " + std::to_string(i) + " is another integer";
                    }
                    break;
                case tolvane::SqlLiteral::Kind::Text: {
                    const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(stmt, i));
                    const std::string got(text != nullptr ? text : "",
                                          static_cast<size_t>(sqlite3_column_bytes(stmt, i)));
                    if (type != SQLITE_TEXT || got != lit.text) {
                        diff = "value " + std::to_string(i) + " is another text";
                    }
                    break;
                }
            }
        }
    }
    sqlite3_finalize(stmt);
    return diff;
}

}  // namespace testdata
