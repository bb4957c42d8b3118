#include "UiLib/Values.h"

#include <array>
#include <charconv>
#include <limits>
#include <vector>

namespace UiLib {
namespace {

std::string_view Trim(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) {
        s.remove_prefix(1);
    }
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) {
        s.remove_suffix(1);
    }
    return s;
}

// Exactly N comma-separated numbers. Sizes and rectangles are parsed for every control of every
// window built, so the numbers go into a fixed array rather than onto the heap.
template <size_t N>
std::optional<std::array<int, N>> ParseList(std::string_view text) {
    std::array<int, N> values{};
    size_t count = 0;
    size_t start = 0;
    while (true) {
        size_t comma = text.find(',', start);
        std::string_view part = text.substr(
            start, comma == std::string_view::npos ? std::string_view::npos : comma - start);
        auto v = ParseInt(part);
        if (!v || count == N) {
            return std::nullopt;
        }
        values[count++] = *v;
        if (comma == std::string_view::npos) {
            break;
        }
        start = comma + 1;
    }
    if (count != N) {
        return std::nullopt;
    }
    return values;
}

}  // namespace

std::optional<int> ParseInt(std::string_view text) {
    text = Trim(text);
    if (!text.empty() && text.front() == '+') {
        text.remove_prefix(1);
    }
    if (text.empty()) {
        return std::nullopt;
    }
    long long value = 0;
    auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (ec != std::errc() || end != text.data() + text.size()) {
        return std::nullopt;
    }
    // Coordinates beyond this are nonsense and would overflow the layout arithmetic.
    constexpr long long kLimit = 1'000'000;
    if (value > kLimit || value < -kLimit) {
        return std::nullopt;
    }
    return static_cast<int>(value);
}

std::optional<Size> ParseSize(std::string_view text) {
    auto v = ParseList<2>(text);
    if (!v) {
        return std::nullopt;
    }
    return Size{(*v)[0], (*v)[1]};
}

std::optional<Rect> ParseRect(std::string_view text) {
    auto v = ParseList<4>(text);
    if (!v) {
        return std::nullopt;
    }
    return Rect{(*v)[0], (*v)[1], (*v)[2], (*v)[3]};
}

std::optional<Color> ParseColor(std::string_view text) {
    text = Trim(text);
    if (!text.empty() && text.front() == '#') {
        text.remove_prefix(1);
    }
    if (text.size() != 8 && text.size() != 6) {
        return std::nullopt;
    }
    uint32_t value = 0;
    auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value, 16);
    if (ec != std::errc() || end != text.data() + text.size()) {
        return std::nullopt;
    }
    if (text.size() == 6) {
        value |= 0xFF000000u;
    }
    return value;
}

std::optional<bool> ParseBool(std::string_view text) {
    text = Trim(text);
    if (text == "true") {
        return true;
    }
    if (text == "false") {
        return false;
    }
    return std::nullopt;
}

}  // namespace UiLib
