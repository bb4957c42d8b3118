// The words of a message kept in its `attributedBody`: an NSAttributedString in the "streamtyped"
// serialisation (the typed stream of NSArchiver) that phones of iOS 16 and later keep instead of
// a `text` for many messages.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace tolvane {

// The largest body the decoder looks at; a message's body is a few hundred bytes.
inline constexpr size_t kMaxAttributedBodyBytes = 16u << 20;

// The string of the NSAttributedString serialised in `body` (its bytes as stored, UTF-8 on a
// phone), or nullopt when `body` is not such a stream: a wrong header, a first object that is not
// an attributed string, a string that is not an NSString, a length that runs past the end, a
// reference to nothing read yet, a class chain deeper than a phone writes. Reads only inside
// `body` and does bounded work on any input.
std::optional<std::string> DecodeAttributedBody(std::string_view body);

// The body a phone stores for the plain text `text` (UTF-8): the string with one message-part
// attribute run over all of it (its length counted in UTF-16 units, as the phone counts it).
std::string EncodeAttributedBody(std::string_view text);

}  // namespace tolvane
