#include <gtest/gtest.h>

#include "app/ProfileFile.h"
#include "tests/support/TestEnv.h"

using tolvane::ProfileFile;

TEST(ProfileFile, FirstOccurrenceWinsAndNamesIgnoreCase) {
    const auto f = ProfileFile::Parse(
        "[Folder]\r\nUserFolder=/first\r\nUserFolder=/second\r\n[folder]\r\nUserFolder=/third\r\n");
    EXPECT_EQ(f.GetString("FOLDER", "userfolder", 260), "/first");
    EXPECT_FALSE(f.GetString("Folder", "Missing", 260).has_value());
    EXPECT_FALSE(f.GetString("Nope", "UserFolder", 260).has_value());
}

TEST(ProfileFile, LinesSplitAtTheFirstEqualsSign) {
    const auto f = ProfileFile::Parse("[S]\n  key = a=b=c  \nquoted=\"  spaced  \"\n");
    EXPECT_EQ(f.GetString("S", "key", 100), "a=b=c");
    EXPECT_EQ(f.GetString("S", "quoted", 100), "  spaced  ");
    const auto pairs = f.SectionPairs("S", 10240);
    ASSERT_TRUE(pairs.has_value());
    ASSERT_EQ(pairs->size(), 2u);
    EXPECT_EQ((*pairs)[0].first, "key");
    EXPECT_EQ((*pairs)[0].second, "a=b=c");
}

TEST(ProfileFile, MalformedInputIsIgnoredNotFatal) {
    std::string binary;
    for (int i = 0; i < 4096; ++i) {
        binary.push_back(static_cast<char>((i * 131) & 0xFF));
    }
    EXPECT_NO_THROW(ProfileFile::Parse(binary));
    EXPECT_TRUE(ProfileFile::Parse("").Sections().empty());
    // Keys without "=", lines before any section, unterminated headers, a last line without LF.
    const auto f = ProfileFile::Parse("orphan=1\n[S\n[S]\nnoequals\n;comment=1\nlast=yes");
    EXPECT_FALSE(f.GetString("S", "orphan", 10).has_value());
    EXPECT_FALSE(f.GetString("S", "noequals", 10).has_value());
    EXPECT_FALSE(f.GetString("S", ";comment", 10).has_value());
    EXPECT_EQ(f.GetString("S", "last", 10), "yes");
    EXPECT_EQ(f.SectionPairs("S", 10240)->size(), 1u);
}

TEST(ProfileFile, ByteOrderMarkIsSkipped) {
    const auto f = ProfileFile::Parse("\xEF\xBB\xBF[DefaultLanguage]\nDefault=Deutsch\n");
    EXPECT_EQ(f.GetString("DefaultLanguage", "Default", 63), "Deutsch");
}

TEST(ProfileFile, SizeLimitsCutValuesAndSections) {
    const std::string longLine(20000, 'x');
    const auto f = ProfileFile::Parse("[S]\nk=" + longLine + "\n");
    EXPECT_EQ(f.GetString("S", "k", 63)->size(), 63u);
    // A section buffer of 10240 characters holds "key=value" texts with their zeros.
    std::string many = "[T]\n";
    for (int i = 0; i < 2000; ++i) {
        many += "key" + std::to_string(i) + "=value\n";  // 12 to 15 characters each
    }
    const auto t = ProfileFile::Parse(many).SectionPairs("T", 10240);
    ASSERT_TRUE(t.has_value());
    size_t used = 0;
    for (auto& [k, v] : *t) {
        used += k.size() + 1 + v.size() + 1;
    }
    EXPECT_LE(used, 10238u);
    EXPECT_GT(t->size(), 600u);
    EXPECT_LT(t->size(), 2000u);
    EXPECT_EQ((*t)[0].first, "key0");

    std::string sections;
    for (int i = 0; i < 300; ++i) {
        sections += "[Section" + std::to_string(i) + "]\n";
    }
    const auto names = ProfileFile::Parse(sections).SectionNames(1024);
    EXPECT_LT(names.size(), 300u);
    EXPECT_EQ(names.front(), "Section0");
}

TEST(ProfileFile, WriteReplacesTheFirstKeyAndKeepsOtherLines) {
    testenv::TempDir dir;
    const std::string path = dir / "config.ini";
    testenv::WriteFile(
        path, "; settings\r\n[Folder]\r\nUserFolder=/old\r\nUserFolder=/dup\r\n[Other]\r\nx=1\r\n");
    ASSERT_EQ(ProfileFile::WriteString(path, "folder", "USERFOLDER", "/new path"), 0);
    EXPECT_EQ(
        testenv::ReadFile(path),
        "; settings\r\n[Folder]\r\nUSERFOLDER=/new path\r\nUserFolder=/dup\r\n[Other]\r\nx=1\r\n");
    ASSERT_EQ(ProfileFile::WriteString(path, "Other", "y", "2"), 0);
    EXPECT_EQ(ProfileFile::Load(path).GetString("Other", "y", 10), "2");
    ASSERT_EQ(ProfileFile::WriteString(path, "New", "z", "3"), 0);
    EXPECT_EQ(ProfileFile::Load(path).GetString("New", "z", 10), "3");
    EXPECT_EQ(ProfileFile::Load(path).GetString("Other", "x", 10), "1");
}

TEST(ProfileFile, WriteCreatesAMissingFileAndRefusesLineBreaks) {
    testenv::TempDir dir;
    const std::string path = dir / "new.ini";
    ASSERT_EQ(ProfileFile::WriteString(path, "Folder", "UserFolder", "/x"), 0);
    EXPECT_EQ(testenv::ReadFile(path), "[Folder]\nUserFolder=/x\n");
    EXPECT_NE(ProfileFile::WriteString(path, "Folder", "UserFolder", "/x\n[Evil]"), 0);
    EXPECT_EQ(ProfileFile::Load(path).GetString("Folder", "UserFolder", 260), "/x");
}
