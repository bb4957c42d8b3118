// Files for the import tab's tests: a message export (sms.csv) and a contacts database file
// written from real-schema databases, and what the phone's two databases hold.
#pragma once

#include <string>
#include <vector>

namespace uitest {

using Rows = std::vector<std::string>;

inline constexpr char kPhoneSmsPath[] = "Library/SMS/sms.db";
inline constexpr char kPhoneContactsPath[] = "Library/AddressBook/AddressBook.sqlitedb";
inline constexpr char kMessageRows[] = "select ROWID, text, handle_id from message order by ROWID;";
inline constexpr char kContactRows[] =
    "select docid, c0First, c1Last from ABPersonFullTextSearch_content order by docid;";

// An sms.csv in `dir` of `count` messages with ROWIDs from `firstRowid`, over the phone's
// handles 1..4 (which every simulated phone has). `rows` receives the rows the phone must gain
// (kMessageRows' columns, as an import writes them). Empty on failure.
std::string WriteMessageExport(const std::string& dir, int count, int firstRowid, Rows* rows);

// A contacts database file (as taken from a phone) in `dir` with `count` contacts; `rows`
// receives its kContactRows. Empty on failure.
std::string WriteContactsDatabase(const std::string& dir, int count, Rows* rows);

// `before` and then `added`.
Rows JoinedRows(Rows before, const Rows& added);

}  // namespace uitest
