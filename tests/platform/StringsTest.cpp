#include <gtest/gtest.h>

#include "platform/Errors.h"
#include "platform/Strings.h"

using namespace platform;

TEST(Strings, RoundTripsNonAsciiText) {
    const std::string utf8 =
        "Jos\xC3\xA9's iPhone \xE2\x80\x94 \xF0\x9F\x93\xB1";  // é, em dash, emoji
    const std::wstring wide = AnsiToWide(utf8);
    ASSERT_EQ(wide.size(), 17u);
    EXPECT_EQ(wide[3], L'\u00E9');
    EXPECT_EQ(static_cast<char32_t>(wide.back()), U'\U0001F4F1');
    EXPECT_EQ(WideToAnsi(wide), utf8);
    EXPECT_EQ(Utf8ToWide(utf8), wide);
}

TEST(Strings, InvalidUtf8IsReplacedByAnsiButRejectedByStrictDecoding) {
    const std::string bad = std::string("ab\xFF") + "c\xC3";  // stray byte, cut sequence at end
    EXPECT_EQ(AnsiToWide(bad), std::wstring(L"ab\uFFFDc\uFFFD"));
    EXPECT_TRUE(Utf8ToWide(bad).empty());
    // Overlong form of '/', and an encoded surrogate: both invalid.
    EXPECT_TRUE(Utf8ToWide("\xC0\xAF").empty());
    EXPECT_TRUE(Utf8ToWide("\xED\xA0\x80").empty());
    EXPECT_EQ(Utf8ToWide(""), L"");
}

TEST(Strings, UnencodableWideCharactersBecomeQuestionMarks) {
    std::wstring wide = L"a";
    wide.push_back(static_cast<wchar_t>(0xD800));  // lone surrogate
    wide.push_back(static_cast<wchar_t>(0x110000));
    wide.push_back(L'z');
    EXPECT_EQ(WideToAnsi(wide), "a??z");
}

TEST(Strings, PathsMakeTheRoundTripThroughWideTextWhateverTheirBytes) {
    // Latin-1 e-acute, a stray continuation byte, a cut sequence at the end, valid UTF-8 between.
    const std::string path = "/home/u/caf\xE9-\x80-Jos\xC3\xA9-\xE2\x80";
    const std::wstring wide = PathToWide(path);
    EXPECT_EQ(PathToBytes(wide), path);
    EXPECT_EQ(wide.substr(0, 11), L"/home/u/caf");
    EXPECT_EQ(static_cast<char32_t>(wide[11]), U'\xDCE9');
    EXPECT_EQ(static_cast<char32_t>(wide[13]), U'\xDC80');
    EXPECT_EQ(wide.substr(15, 4), L"Jos\u00E9");
    // Valid UTF-8 converts as the ANSI conversion does, both ways.
    EXPECT_EQ(PathToWide("Jos\xC3\xA9"), AnsiToWide("Jos\xC3\xA9"));
    EXPECT_EQ(PathToBytes(L"Jos\u00E9"), "Jos\xC3\xA9");
    // Shown as text, an escaped byte is a question mark; other lone surrogates stay unencodable.
    EXPECT_EQ(WideToUtf8(PathToWide("a\xFFz")), "a?z");
    std::wstring other = L"a";
    other.push_back(static_cast<wchar_t>(0xDC41));  // would be byte 0x41, which is never escaped
    EXPECT_EQ(PathToBytes(other), "a?");
}

TEST(Strings, AsciiCaseHelpersLeaveOtherBytesAlone) {
    EXPECT_EQ(AsciiUpper("abc\xC3\xA9z"), "ABC\xC3\xA9Z");
    EXPECT_TRUE(EqualsIgnoreAsciiCase("SQLite", "sqlITE"));
    EXPECT_FALSE(EqualsIgnoreAsciiCase("SQLite", "SQLit"));
}

TEST(Errors, ErrnoMapsToTheSystemCodesTheProgramNames) {
    EXPECT_EQ(SystemErrorFromErrno(0), 0);
    EXPECT_EQ(SystemErrorFromErrno(ENOENT), 2);
    EXPECT_EQ(SystemErrorFromErrno(ENOTDIR), 3);
    EXPECT_EQ(SystemErrorFromErrno(EACCES), 5);
    EXPECT_EQ(SystemErrorFromErrno(EPERM), 5);
    EXPECT_EQ(SystemErrorFromErrno(ENOSPC), 112);
    EXPECT_EQ(SystemErrorFromErrno(EDQUOT), 112);
    EXPECT_EQ(SystemErrorFromErrno(EEXIST), 183);
    EXPECT_EQ(SystemErrorFromErrno(ENOTEMPTY), 145);
    EXPECT_EQ(SystemErrorFromErrno(12345), kErrorGenFailure);
    EXPECT_FALSE(ErrnoMessage(ENOENT).empty());
}
