#include "data/ContactRows.h"

#include <cstdio>

#include "platform/Time.h"

namespace tolvane {
namespace {

constexpr char kIdentifierPrefix[] = "27B99F78-F6F0-475F-8BA1-";
constexpr int kFirstExtraField = 4;
constexpr int kLastExtraField = 22;

}  // namespace

std::string_view QuotedText(std::string_view field) {
    if (field.empty() || field.front() != '"') {
        return field;
    }
    field.remove_prefix(1);
    if (!field.empty() && field.back() == '"') {
        field.remove_suffix(1);
    }
    return field;
}

bool IsNullField(std::string_view field) {
    return field == "NULL";
}

std::string_view PhoneToken(const ContactRecord& record) {
    const std::string_view field = record.Field(kContactPhoneField);
    if (IsNullField(field)) {
        return {};
    }
    const std::string_view text = QuotedText(field);
    const size_t blank = text.find(' ', 4);
    if (blank == std::string_view::npos) {
        return {};
    }
    return text.substr(0, blank);
}

std::string ExtraText(const ContactRecord& record) {
    std::string extra;
    for (int k = kFirstExtraField; k <= kLastExtraField; ++k) {
        if (k == kContactPhoneField) {
            continue;
        }
        const std::string_view field = record.Field(k);
        if (IsNullField(field)) {
            continue;
        }
        extra += QuotedText(field);
        extra += '\n';
    }
    return extra;
}

std::string SearchRowValues(const ContactRecord& record, const std::string& extra) {
    if (extra.empty()) {
        return std::string(record.text);
    }
    const std::string_view text = record.text;
    std::string row;
    row.reserve(text.size() + extra.size() + 4);
    row += text.substr(0, record.end[kContactNoteField - 1]);  // fields 0 to 8
    row += ",\"";
    row += extra;
    row += '"';
    row += text.substr(record.end[kContactNoteField]);  // its ending comma, fields 10 on, the CR
    return row;
}

std::string PersonRowValues(const ContactRecord& record, const std::string& extra,
                            int32_t creationTime) {
    const std::string_view text = record.text;
    std::string row;
    row.reserve(text.size() + extra.size() + 160);
    row += text.substr(0, record.end[kContactNoteField - 1]);  // fields 0 to 8: ROWID..Department
    row += ',';
    if (extra.empty()) {
        row += record.Field(kContactNoteField);
    } else {
        row += '"';
        row += extra;
        row += '"';
    }
    row += ",0,";  // Kind
    const size_t from = record.begin[10];
    row +=
        text.substr(from, record.end[14] - from);  // Birthday, JobTitle, Nickname, Prefix, Suffix
    row += ",NULL,NULL,";                          // FirstSort, LastSort
    char buf[64];
    std::snprintf(buf, sizeof buf, "%d,%d,", creationTime, creationTime);
    row += buf;
    row += "NULL,NULL,NULL,NULL,0,NULL,NULL,NULL,NULL,0,0,-1,NULL,1,";
    row += '"';
    row += RecordIdentifier(record.personId);
    row += "\",NULL";
    return row;
}

std::string RecordIdentifier(int32_t id) {
    char digits[16];
    std::snprintf(digits, sizeof digits, "%012X", static_cast<unsigned>(id));
    return std::string(kIdentifierPrefix) + digits;
}

int32_t ContactCreationTime() {
    platform::LocalTime now = platform::LocalNow();
    now.year -= 31;
    return static_cast<int32_t>(platform::FromLocalTime(now));
}

}  // namespace tolvane
