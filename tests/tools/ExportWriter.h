// Writes exports the way the sibling recovery product does: one row of the device table per
// record, its columns in table order, texts in double quotes (a double quote inside doubled),
// NULL for no value, numbers as they are, every record ended by CR LF, no header line.
// Blob columns cannot be written in this format and go out as NULL.
#pragma once

#include <string>

namespace testkit {

// The export text of every row that `query` returns from the database at `dbPath`.
bool ExportRows(const std::string& dbPath, const std::string& query, std::string& out);

// sms.csv of a message database (its `message` rows by ROWID), contacts.csv of a contacts
// database (its search table rows by docid).
bool WriteSmsExport(const std::string& dbPath, const std::string& outPath);
bool WriteContactsExport(const std::string& dbPath, const std::string& outPath);

inline constexpr char kSmsExportQuery[] = "select * from message order by ROWID;";
inline constexpr char kContactsExportQuery[] =
    "select * from ABPersonFullTextSearch_content order by docid;";

}  // namespace testkit
