#include "UiLib/StyleTable.h"

namespace UiLib {

AttributeList ParseAttributeList(const std::string& text, std::string* fault) {
    AttributeList out;
    size_t i = 0;
    const size_t n = text.size();
    auto fail = [&](const std::string& why) {
        if (fault != nullptr) {
            *fault = why;
        }
        return out;
    };
    while (true) {
        while (i < n && (text[i] == ' ' || text[i] == '\t' || text[i] == '\r' || text[i] == '\n')) {
            ++i;
        }
        if (i >= n) {
            break;
        }
        size_t eq = text.find('=', i);
        if (eq == std::string::npos) {
            return fail("attribute list item without '=': " + text.substr(i));
        }
        std::string name = text.substr(i, eq - i);
        while (!name.empty() && name.back() == ' ') {
            name.pop_back();
        }
        i = eq + 1;
        if (i >= n || (text[i] != '"' && text[i] != '\'')) {
            return fail("attribute list value of " + name + " is not quoted");
        }
        char quote = text[i++];
        size_t close = text.find(quote, i);
        if (close == std::string::npos || name.empty()) {
            return fail("unterminated attribute list value of " + name);
        }
        out.emplace_back(name, text.substr(i, close - i));
        i = close + 1;
    }
    return out;
}

}  // namespace UiLib
