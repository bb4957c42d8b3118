// The values a contact record turns into: the phone token, the extra text that gathers the
// record's further texts into the note, and the value lists of the search row and the person row
// (still in the export's quoting; the caller turns them into SQL literals).
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "data/ExportScan.h"

namespace tolvane {

// Field indexes of a contact record.
inline constexpr int kContactNoteField = 9;
inline constexpr int kContactPhoneField = 16;

// The bytes between the quotes of a quoted field (a missing closing quote keeps the rest).
std::string_view QuotedText(std::string_view field);
bool IsNullField(std::string_view field);

// The phone field's text up to the first blank at position 4 or later; empty when there is none.
std::string_view PhoneToken(const ContactRecord& record);

// For each field 4 to 22 except the phone field that is not NULL, its text and one LF.
std::string ExtraText(const ContactRecord& record);

// The search table row: the record up to and including its CR, with the note field replaced by
// the extra text in quotes when that is not empty.
std::string SearchRowValues(const ContactRecord& record, const std::string& extra);

// The 36 values of the person row.
std::string PersonRowValues(const ContactRecord& record, const std::string& extra,
                            int32_t creationTime);

// "27B99F78-F6F0-475F-8BA1-" and the id as 12 upper-case hexadecimal digits.
std::string RecordIdentifier(int32_t id);

// The current local time with its year lowered by 31, as seconds since 1970 (in effect the
// current time counted from the start of 2001).
int32_t ContactCreationTime();

}  // namespace tolvane
