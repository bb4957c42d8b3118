#include "data/SqlLiterals.h"

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <string>
#include <vector>

#include "tests/data/LiteralCheck.h"

namespace tolvane {
namespace {

class SqlLiteralsTest : public ::testing::Test {
  protected:
    SqlLiteralsTest() { sqlite3_open(":memory:", &db_); }
    ~SqlLiteralsTest() override { sqlite3_close(db_); }
    sqlite3* db_ = nullptr;
};

TEST_F(SqlLiteralsTest, PlainListsReadAsSqliteReadsThem) {
    const std::string lists[] = {
        "1",
        "NULL",
        "null, Null ,nUlL",
        "'text'",
        "''",
        "'it''s ''quoted'''",
        "-7,+3,0,-0,007",
        "999999999999999999,-999999999999999999",
        " \t1 ,\r\n'a, b' ,\f NULL\r",
        "'caf\xE9 \xFF', '\xF0\x9F\x98\x80'",
        "'line\r\nbreak'",
    };
    for (const std::string& list : lists) {
        SCOPED_TRACE(list);
        std::vector<SqlLiteral> literals;
        ASSERT_TRUE(ParseSqlLiterals(list, literals));
        EXPECT_EQ(testdata::LiteralsDifferFromSqlite(db_, list, literals), "");
    }
}

TEST_F(SqlLiteralsTest, AnythingElseIsLeftToSqlite) {
    const std::string lists[] = {
        "",       "1,",      ",1",     "1 2",      "1.5",
        "1e3",    "0x10",    "- 5",    "--1",      "+-1",
        "NULLx",  "NULL'a'", "'open",  "'a''",     "X'00'",
        "TRUE",   "abc",     "(1)",    "'a'||'b'", "1234567890123456789",
        "/*c*/1", "1;",      "1) ,(2", "'a\0b'",   "\v1",
    };
    for (const std::string& list : lists) {
        SCOPED_TRACE(list);
        std::vector<SqlLiteral> literals;
        EXPECT_FALSE(ParseSqlLiterals(list, literals));
    }
    std::vector<SqlLiteral> literals;
    const std::string withNul("'a\0b'", 5);
    EXPECT_FALSE(ParseSqlLiterals(withNul, literals));
}

}  // namespace
}  // namespace tolvane
