// Reading a list of SQL literals without the SQL compiler.
//
// The rows of an export become comma-separated lists of SQL literals. Preparing a statement for
// each of them costs more than inserting the row, so the common lists (NULL, whole numbers and
// quoted texts) are read here and bound to a prepared insert. Anything else is left to SQLite.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace tolvane {

struct SqlLiteral {
    enum class Kind { Null, Integer, Text };
    Kind kind = Kind::Null;
    int64_t integer = 0;
    std::string text;  // the text's bytes, its doubled apostrophes made single
};

// Reads `list` as literals separated by commas, with white space around them. Returns false,
// leaving `out` unspecified, for anything but NULL, whole numbers of up to 18 digits with an
// optional sign, and texts in apostrophes; SQLite then decides what the list means. Where it
// returns true, each literal has the value and type that SQLite gives it.
bool ParseSqlLiterals(std::string_view list, std::vector<SqlLiteral>& out);

}  // namespace tolvane
