#include "data/AttributedBody.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "devsim/ModernDatabases.h"

namespace tolvane {
namespace {

std::string Bytes(std::initializer_list<int> values) {
    std::string s;
    for (const int v : values) {
        s += static_cast<char>(v);
    }
    return s;
}

// The texts a phone's messages hold: plain, empty, quotes, line breaks, letters of many
// scripts, emoji (surrogate pairs in UTF-16), and lengths around the edges of the one-byte,
// two-byte and four-byte length forms.
std::vector<std::string> SampleTexts() {
    return {"Hi",
            "",
            "Ça va? \"Ja\", d'accord…\nbis morgen",
            "Привет 👋🏽 こんにちは",
            std::string(127, 'a'),
            std::string(128, 'b'),
            std::string(300, 'c') + "é",
            std::string(0x7FFF, 'd'),
            std::string(0x8000, 'e'),
            std::string(40 * 1024, 'x'),
            std::string(0xFFFF, 'f'),
            std::string(0x10000, 'g')};
}

TEST(AttributedBodyTest, ReadsTheBodiesThePhoneWrites) {
    for (const std::string& text : SampleTexts()) {
        const std::optional<std::string> words =
            DecodeAttributedBody(devsim::StreamTypedBody(text));
        ASSERT_TRUE(words.has_value()) << text.substr(0, 20);
        EXPECT_EQ(*words, text);
    }
}

TEST(AttributedBodyTest, WritesWhatThePhoneWritesAndReadsItBack) {
    for (const std::string& text : SampleTexts()) {
        const std::string body = EncodeAttributedBody(text);
        EXPECT_EQ(body, devsim::StreamTypedBody(text)) << text.substr(0, 20);
        const std::optional<std::string> words = DecodeAttributedBody(body);
        ASSERT_TRUE(words.has_value()) << text.substr(0, 20);
        EXPECT_EQ(*words, text);
    }
}

TEST(AttributedBodyTest, CountsTheAttributeRunInUtf16Units) {
    // "a👋é": 1 + 2 (a surrogate pair) + 1 units, 7 bytes. The run's length follows "iI" and 1.
    const std::string body = EncodeAttributedBody("a\xF0\x9F\x91\x8B\xC3\xA9");
    const size_t run = body.find(Bytes({0x84, 0x02, 'i', 'I', 0x01}));
    ASSERT_NE(run, std::string::npos);
    EXPECT_EQ(static_cast<uint8_t>(body[run + 5]), 4);
}

// A body around `text` whose length is written as `lengthBytes`, by hand, as the format has it.
std::string BodyWithLength(const std::string& lengthBytes, const std::string& text) {
    std::string body = Bytes({0x04, 0x0B}) + "streamtyped" + Bytes({0x81, 0xE8, 0x03});
    body += Bytes({0x84, 0x01, '@', 0x84, 0x84, 0x84, 0x12}) + "NSAttributedString";
    body += Bytes({0x00, 0x84, 0x84, 0x08}) + "NSObject" + Bytes({0x00, 0x85});
    body += Bytes({0x92, 0x84, 0x84, 0x84, 0x08}) + "NSString";
    body += Bytes({0x01, 0x94, 0x84, 0x01, '+'}) + lengthBytes + text + Bytes({0x86});
    return body;
}

TEST(AttributedBodyTest, ReadsLengthsAsUnsignedInEachForm) {
    // 0x81 and two bytes, little-endian, counts up to 0xFFFF: 40 KiB is 0x81 0x00 0xA0.
    const std::string forty(40 * 1024, 'w');
    std::optional<std::string> words =
        DecodeAttributedBody(BodyWithLength(Bytes({0x81, 0x00, 0xA0}), forty));
    ASSERT_TRUE(words.has_value());
    EXPECT_EQ(words->size(), forty.size());
    const std::string full(0xFFFF, 'v');
    words = DecodeAttributedBody(BodyWithLength(Bytes({0x81, 0xFF, 0xFF}), full));
    ASSERT_TRUE(words.has_value());
    EXPECT_EQ(words->size(), full.size());
    // 0x82 and four bytes, little-endian; 0x81 also for a short text.
    words = DecodeAttributedBody(BodyWithLength(Bytes({0x82, 0x03, 0x00, 0x00, 0x00}), "abc"));
    ASSERT_TRUE(words.has_value());
    EXPECT_EQ(*words, "abc");
    words = DecodeAttributedBody(BodyWithLength(Bytes({0x81, 0x03, 0x00}), "abc"));
    ASSERT_TRUE(words.has_value());
    EXPECT_EQ(*words, "abc");
    // A length with its top bit set, in either form, is large, not negative: past the end here.
    EXPECT_FALSE(
        DecodeAttributedBody(BodyWithLength(Bytes({0x81, 0x00, 0xA0}), "abc")).has_value());
    EXPECT_FALSE(DecodeAttributedBody(BodyWithLength(Bytes({0x82, 0x00, 0x00, 0x00, 0x80}), forty))
                     .has_value());
    // A two-byte length cut short after its first byte.
    const std::string cut = BodyWithLength(Bytes({0x81, 0x00, 0xA0}), forty);
    EXPECT_FALSE(
        DecodeAttributedBody(cut.substr(0, cut.find(Bytes({0x81, 0x00, 0xA0})) + 2)).has_value());
}

TEST(AttributedBodyTest, ReadsAMutableStringAndReferencedClasses) {
    // NSMutableAttributedString : NSAttributedString : NSObject holding an NSMutableString whose
    // superclass chain is a reference to NSObject read before (object 3), its type "+" new.
    std::string body = Bytes({0x04, 0x0B}) + "streamtyped" + Bytes({0x81, 0xE8, 0x03});
    body += Bytes({0x84, 0x01, '@', 0x84, 0x84, 0x84, 0x19}) + "NSMutableAttributedString";
    body += Bytes({0x00, 0x84, 0x84, 0x12}) + "NSAttributedString";
    body += Bytes({0x00, 0x84, 0x84, 0x08}) + "NSObject" + Bytes({0x00, 0x85});
    body += Bytes({0x92, 0x84, 0x84, 0x84, 0x0F}) + "NSMutableString";
    body += Bytes({0x01, 0x95, 0x84, 0x01, '+', 0x05}) + "Hallo" + Bytes({0x86});
    const std::optional<std::string> words = DecodeAttributedBody(body);
    ASSERT_TRUE(words.has_value());
    EXPECT_EQ(*words, "Hallo");
    // The same with the superclass reference pointing at the attributed string object itself,
    // which is no class.
    std::string wrong = body;
    wrong[wrong.find("NSMutableString") + 16] = static_cast<char>(0x92);
    EXPECT_FALSE(DecodeAttributedBody(wrong).has_value());
}

TEST(AttributedBodyTest, RefusesWhatIsNoAttributedString) {
    const std::string good = EncodeAttributedBody("Hello there");
    ASSERT_TRUE(DecodeAttributedBody(good).has_value());

    std::vector<std::pair<std::string, std::string>> bad;
    bad.emplace_back("empty", "");
    bad.emplace_back("plain text", "Hello there");
    std::string s = good;
    s[0] = 0x03;
    bad.emplace_back("streamer version", s);
    s = good;
    s[2] = 'S';
    bad.emplace_back("signature", s);
    s = good;
    s.replace(s.find("NSAttributedString"), 18, "NSDictionaryXXXXXX");
    bad.emplace_back("root class", s);
    s = good;
    s.replace(s.find("NSString"), 8, "NSNumber");
    bad.emplace_back("string class", s);
    s = good;
    s[s.find("Hello") - 1] = 0x7F;  // a length past the end
    bad.emplace_back("length past end", s);
    s = good;
    s[s.find("Hello") - 1] = static_cast<char>(0xF0);  // a negative length
    bad.emplace_back("negative length", s);
    s = good;
    s[s.find("Hello") + 11] = 0x00;  // no end of the string object
    bad.emplace_back("no end tag", s);
    s = good;
    s[s.find("NSString") + 9] = static_cast<char>(0xA0);  // superclass: object 14, not read yet
    bad.emplace_back("reference ahead", s);
    // Every cut of the body short of its string's end.
    const size_t stringEnd = good.find("Hello there") + 12;
    for (size_t cut = 0; cut < stringEnd; ++cut) {
        bad.emplace_back("cut at " + std::to_string(cut), good.substr(0, cut));
    }
    for (const auto& [what, body] : bad) {
        EXPECT_FALSE(DecodeAttributedBody(body).has_value()) << what;
    }
}

TEST(AttributedBodyTest, StopsAtAnEndlessClassChain) {
    // New classes, each naming a superclass, more than a phone ever writes: refused, not followed.
    std::string body = Bytes({0x04, 0x0B}) + "streamtyped" + Bytes({0x81, 0xE8, 0x03});
    body += Bytes({0x84, 0x01, '@', 0x84, 0x84, 0x84, 0x12}) + "NSAttributedString";
    body += Bytes({0x00});
    for (int i = 0; i < 40; ++i) {
        body += Bytes({0x84, 0x84, 0x01, 'A', 0x00});
    }
    body += Bytes({0x85, 0x92, 0x84, 0x84, 0x84, 0x08}) + "NSString";
    body += Bytes({0x01, 0x94, 0x84, 0x01, '+', 0x02}) + "ok" + Bytes({0x86});
    EXPECT_FALSE(DecodeAttributedBody(body).has_value());
}

}  // namespace
}  // namespace tolvane
