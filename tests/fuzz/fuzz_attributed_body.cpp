// Fuzzes the attributedBody decoder: arbitrary bytes in a buffer of exactly their size (any read
// past it is caught by AddressSanitizer). A decoded string must be bytes of the input itself; and
// the input taken as a text must come back whole through the encoder and the decoder.
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>

#include "data/AttributedBody.h"

namespace {

void Check(bool condition) {
    if (!condition) {
        __builtin_trap();
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::unique_ptr<char[]> buffer(new char[size == 0 ? 1 : size]);
    if (size > 0) {
        std::memcpy(buffer.get(), data, size);
    }
    const std::string_view input(buffer.get(), size);

    const std::optional<std::string> words = tolvane::DecodeAttributedBody(input);
    if (words) {
        Check(words->size() < size);
        Check(input.find(*words) != std::string_view::npos);
    }

    const std::optional<std::string> back =
        tolvane::DecodeAttributedBody(tolvane::EncodeAttributedBody(input));
    Check(back.has_value() && *back == input);
    return 0;
}
