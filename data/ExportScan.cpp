#include "data/ExportScan.h"

#include <limits>

namespace tolvane {
namespace {

bool IsSpace(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

}  // namespace

int32_t ParseDecimal(std::string_view buf, size_t pos) {
    const size_t size = buf.size();
    while (pos < size && IsSpace(buf[pos])) {
        ++pos;
    }
    bool negative = false;
    if (pos < size && (buf[pos] == '+' || buf[pos] == '-')) {
        negative = buf[pos] == '-';
        ++pos;
    }
    // Accumulate toward the limit of the sign so that INT32_MIN itself is representable.
    constexpr int64_t kLimit = int64_t{std::numeric_limits<int32_t>::max()} + 1;
    int64_t value = 0;
    while (pos < size && IsDigit(buf[pos])) {
        if (value < kLimit) {
            value = value * 10 + (buf[pos] - '0');
        }
        ++pos;
    }
    if (negative) {
        return static_cast<int32_t>(value >= kLimit ? -kLimit : -value);
    }
    return static_cast<int32_t>(value >= kLimit ? kLimit - 1 : value);
}

void ScanMessageExport(std::string_view buf,
                       const std::function<bool(const MessageRecord&)>& onRecord) {
    const size_t size = buf.size();
    size_t lineStart = 0;
    size_t textStart = 0;  // first byte of field 2, the message text
    int commas = 0;        // counted commas of the current record
    MessageRecord record;
    for (size_t i = 0; i < size; ++i) {
        const char c = buf[i];
        if (c == ',') {
            switch (commas) {
                case 0:
                    record.messageId = ParseDecimal(buf, lineStart);
                    commas = 1;
                    break;
                case 1:
                    textStart = i + 1;
                    commas = 2;
                    break;
                case 2:
                    // The text may hold commas: only a comma right after its closing quote ends
                    // it. A message without text has a bare NULL there, which ends it as well;
                    // otherwise the rest of the record would be miscounted and swallow the next.
                    if (buf[i - 1] == '"' || buf.substr(textStart, i - textStart) == "NULL") {
                        commas = 3;
                    }
                    break;
                case 4:
                    record.handleId = ParseDecimal(buf, i + 1);
                    commas = 5;
                    break;
                default:
                    if (commas < std::numeric_limits<int>::max()) {
                        ++commas;
                    }
                    break;
            }
        } else if (c == '\r' && i + 1 < size && buf[i + 1] == '\n' &&
                   commas >= kMessageRecordCommas) {
            commas = 0;
            record.text = buf.substr(lineStart, i + 1 - lineStart);
            if (!onRecord(record)) {
                return;
            }
            ++record.number;
            lineStart = i + 2;
            ++i;  // the LF
        }
    }
}

void ScanContactExport(std::string_view buf,
                       const std::function<bool(const ContactRecord&)>& onRecord) {
    const size_t size = buf.size();
    size_t lineStart = 0;
    int fieldEnds = 0;  // field-ending commas of the current record
    ContactRecord record;
    record.begin[0] = 0;
    for (size_t i = 0; i < size; ++i) {
        const char c = buf[i];
        if (c == ',') {
            // Field 0 is a number; every later field is NULL or a quoted text, so a comma ends
            // it only right after a quote or after NULL. The record's own bytes are the only
            // ones looked at.
            const size_t offset = i - lineStart;
            const bool endsField = fieldEnds == 0 || buf[i - 1] == '"' ||
                                   (offset >= 4 && buf.substr(i - 4, 4) == "NULL");
            if (endsField) {
                if (fieldEnds < kContactFields) {
                    record.end[fieldEnds] = offset;
                    if (fieldEnds + 1 < kContactFields) {
                        record.begin[fieldEnds + 1] = offset + 1;
                    }
                }
                if (fieldEnds < std::numeric_limits<int>::max()) {
                    ++fieldEnds;
                }
            }
        } else if (c == '\r' && i + 1 < size && buf[i + 1] == '\n' &&
                   fieldEnds >= kContactFields - 1) {
            const size_t offset = i - lineStart;
            if (fieldEnds == kContactFields - 1) {
                record.end[kContactFields - 1] = offset;
            }
            record.text = buf.substr(lineStart, offset + 1);
            record.personId = ParseDecimal(buf, lineStart);
            if (!onRecord(record)) {
                return;
            }
            ++record.number;
            fieldEnds = 0;
            lineStart = i + 2;
            ++i;  // the LF
        }
    }
}

}  // namespace tolvane
