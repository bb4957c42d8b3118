// Text conversions between the program's wide strings and its narrow ones.
//
// The system's ANSI code page is UTF-8 on this platform, so "ANSI" and UTF-8 texts share one
// encoding; the two families of functions differ only in how they treat bytes that are not UTF-8.
#pragma once

#include <string>
#include <string_view>

namespace platform {

// Wide text to the ANSI code page. Code points that cannot be encoded (lone surrogates, values
// above U+10FFFF) become '?', as a best-fit conversion does.
std::string WideToAnsi(std::wstring_view text);

// ANSI code page text to wide. Bytes that do not form UTF-8 become U+FFFD each.
std::wstring AnsiToWide(std::string_view text);

// Strict UTF-8 decoding of device texts: an empty string when the text is not valid UTF-8.
std::wstring Utf8ToWide(std::string_view text);

// Wide text to UTF-8 (same as WideToAnsi on this platform).
std::string WideToUtf8(std::wstring_view text);

// A path (bytes, UTF-8 by convention) as wide text for the windows, and back, without loss: a
// file name need not be UTF-8, so each byte that does not form UTF-8 becomes the lone surrogate
// U+DC80 + byte, which PathToBytes turns back into that byte. Valid UTF-8 converts as AnsiToWide
// does. Shown as text, such a byte appears as '?' (WideToUtf8). The paths of the engine are bytes;
// these two are used once, where a path meets the windows.
std::wstring PathToWide(std::string_view path);
std::string PathToBytes(std::wstring_view path);

// ASCII-only case folding, as used for identifiers, hex digits and markers.
std::string AsciiUpper(std::string_view text);
std::string AsciiLower(std::string_view text);
bool EqualsIgnoreAsciiCase(std::string_view a, std::string_view b);

}  // namespace platform
