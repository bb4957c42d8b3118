#include "data/SqlLiterals.h"

namespace tolvane {
namespace {

constexpr int kMaxDigits = 18;  // always within int64, whatever the sign

// SQLite's white space between tokens.
bool IsBlank(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\f' || c == '\r';
}

// A byte that would continue an identifier or a number (so "NULLx" or "12e3" are no literals
// of this reader).
bool ContinuesToken(char c) {
    const auto u = static_cast<unsigned char>(c);
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_' ||
           c == '$' || c == '.' || c == '\'' || c == '"' || u >= 0x80;
}

class Reader {
  public:
    explicit Reader(std::string_view s) : s_(s) {}

    void SkipBlanks() {
        while (pos_ < s_.size() && IsBlank(s_[pos_])) {
            ++pos_;
        }
    }
    bool AtEnd() const { return pos_ >= s_.size(); }
    char Peek() const { return s_[pos_]; }
    bool Take(char c) {
        if (!AtEnd() && s_[pos_] == c) {
            ++pos_;
            return true;
        }
        return false;
    }

    bool Literal(SqlLiteral& lit) {
        if (AtEnd()) {
            return false;
        }
        const char c = Peek();
        if (c == '\'') {
            return Text(lit);
        }
        if (c == '+' || c == '-' || (c >= '0' && c <= '9')) {
            return Integer(lit);
        }
        if (s_.size() - pos_ >= 4 && (c == 'N' || c == 'n')) {
            const std::string_view word = s_.substr(pos_, 4);
            const bool isNull = (word[1] == 'U' || word[1] == 'u') &&
                                (word[2] == 'L' || word[2] == 'l') &&
                                (word[3] == 'L' || word[3] == 'l');
            if (isNull && (pos_ + 4 == s_.size() || !ContinuesToken(s_[pos_ + 4]))) {
                pos_ += 4;
                lit.kind = SqlLiteral::Kind::Null;
                return true;
            }
        }
        return false;
    }

  private:
    bool Text(SqlLiteral& lit) {
        ++pos_;  // the opening apostrophe
        lit.kind = SqlLiteral::Kind::Text;
        lit.text.clear();
        while (pos_ < s_.size()) {
            const size_t quote = s_.find('\'', pos_);
            if (quote == std::string_view::npos) {
                return false;  // unterminated
            }
            lit.text.append(s_.substr(pos_, quote - pos_));
            pos_ = quote + 1;
            if (pos_ < s_.size() && s_[pos_] == '\'') {
                lit.text += '\'';
                ++pos_;
                continue;
            }
            // The SQL text ends at a NUL byte; such a list is left to SQLite.
            return lit.text.find('\0') == std::string::npos;
        }
        return false;
    }

    bool Integer(SqlLiteral& lit) {
        bool negative = false;
        if (s_[pos_] == '+' || s_[pos_] == '-') {
            negative = s_[pos_] == '-';
            ++pos_;
        }
        const size_t start = pos_;
        int64_t value = 0;
        while (pos_ < s_.size() && s_[pos_] >= '0' && s_[pos_] <= '9') {
            if (pos_ - start >= kMaxDigits) {
                return false;
            }
            value = value * 10 + (s_[pos_] - '0');
            ++pos_;
        }
        if (pos_ == start || (pos_ < s_.size() && ContinuesToken(s_[pos_]))) {
            return false;
        }
        lit.kind = SqlLiteral::Kind::Integer;
        lit.integer = negative ? -value : value;
        return true;
    }

    std::string_view s_;
    size_t pos_ = 0;
};

}  // namespace

bool ParseSqlLiterals(std::string_view list, std::vector<SqlLiteral>& out) {
    Reader reader(list);
    size_t count = 0;
    while (true) {
        reader.SkipBlanks();
        if (count == out.size()) {
            out.emplace_back();
        }
        if (!reader.Literal(out[count])) {
            return false;
        }
        ++count;
        reader.SkipBlanks();
        if (reader.AtEnd()) {
            break;
        }
        if (!reader.Take(',')) {
            return false;
        }
    }
    out.resize(count);
    return true;
}

}  // namespace tolvane
