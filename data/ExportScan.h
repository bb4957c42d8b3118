// The scanners of the two export files (sms.csv, contacts.csv).
//
// Both formats hold one row of a device table per record, its values in the table's column order,
// separated by commas and ended by CR LF, with no header line. A text may hold commas and line
// breaks, so neither format can be split on separators alone; each scanner follows its own rules
// for which comma ends a field and which CR LF ends a record. The scanners only find records and
// fields: they never build SQL and never read outside the buffer they are given.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string_view>

namespace tolvane {

// The decimal number at `pos` as the C runtime's atoi reads it: leading white space, an optional
// sign, then digits up to the first non-digit; 0 when there are none. Values beyond the int32
// range are clamped to it. Reads nothing at or beyond buf.size().
int32_t ParseDecimal(std::string_view buf, size_t pos);

// One record of a message export.
struct MessageRecord {
    std::string_view text;  // from its first byte up to and including the CR of its CR LF
    int32_t messageId = 0;  // field 0, the message's ROWID
    int32_t handleId = 0;   // field 5, the ROWID of the message's handle
    int32_t number = 0;     // 0 for the first record of the file
};

// A record has at least this many counted commas before a CR LF can end it.
inline constexpr int kMessageRecordCommas = 37;

// Calls `onRecord` for each record of a message export, in file order, and stops early when it
// returns false. Bytes after the last CR LF that ends a record belong to no record.
void ScanMessageExport(std::string_view buffer,
                       const std::function<bool(const MessageRecord&)>& onRecord);

// The fields of a contact record: docid and the 23 columns of the search table.
inline constexpr int kContactFields = 24;

// One record of a contact export. Offsets are relative to `text`.
struct ContactRecord {
    std::string_view text;  // from its first byte up to and including the CR of its CR LF
    int32_t personId = 0;   // field 0, the person's ROWID
    int32_t number = 0;     // 0 for the first record of the file
    // Field k is text[begin[k], end[k]); end[k] is the offset of the comma that ended it (for the
    // last field: of the next field-ending comma, or of the CR).
    std::array<size_t, kContactFields> begin{};
    std::array<size_t, kContactFields> end{};

    std::string_view Field(int k) const { return text.substr(begin[k], end[k] - begin[k]); }
};

// Calls `onRecord` for each record of a contact export, in file order, and stops early when it
// returns false.
void ScanContactExport(std::string_view buffer,
                       const std::function<bool(const ContactRecord&)>& onRecord);

}  // namespace tolvane
