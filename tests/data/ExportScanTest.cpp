#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "data/ContactRows.h"
#include "data/ExportScan.h"
#include "data/MergeSupport.h"
#include "tests/data/ExportRecords.h"

namespace tolvane {
namespace {

std::vector<MessageRecord> ScanMessages(std::string_view buffer) {
    std::vector<MessageRecord> records;
    ScanMessageExport(buffer, [&](const MessageRecord& r) {
        records.push_back(r);
        return true;
    });
    return records;
}

std::vector<ContactRecord> ScanContacts(std::string_view buffer) {
    std::vector<ContactRecord> records;
    ScanContactExport(buffer, [&](const ContactRecord& r) {
        records.push_back(r);
        return true;
    });
    return records;
}

TEST(ParseDecimalTest, ReadsLikeTheRuntimesAtoi) {
    EXPECT_EQ(ParseDecimal("123,4", 0), 123);
    EXPECT_EQ(ParseDecimal(" \t-42x", 0), -42);
    EXPECT_EQ(ParseDecimal("+7", 0), 7);
    EXPECT_EQ(ParseDecimal("NULL,5", 0), 0);
    EXPECT_EQ(ParseDecimal("a,15,", 2), 15);
    EXPECT_EQ(ParseDecimal("99999999999", 0), 2147483647);
    EXPECT_EQ(ParseDecimal("-2147483648", 0), -2147483647 - 1);
    EXPECT_EQ(ParseDecimal("-99999999999", 0), -2147483647 - 1);
}

TEST(ParseDecimalTest, StopsAtTheEndOfTheBuffer) {
    // The view ends in the middle of a longer string: the digits after it must not count.
    const std::string backing = "12,345678";
    EXPECT_EQ(ParseDecimal(std::string_view(backing).substr(0, 5), 3), 34);
    EXPECT_EQ(ParseDecimal(std::string_view(backing).substr(0, 3), 3), 0);
    EXPECT_EQ(ParseDecimal("  -", 0), 0);
    EXPECT_EQ(ParseDecimal("", 0), 0);
}

TEST(ReplaceCharWithTextTest, ReplacesEveryOccurrenceByTextsOfAnyLength) {
    std::string s = "it's a 'quote'";
    ReplaceCharWithText(s, '\'', "''");
    EXPECT_EQ(s, "it''s a ''quote''");
    ReplaceCharWithText(s, '\'', "");
    EXPECT_EQ(s, "its a quote");
    ReplaceCharWithText(s, 'q', "QQQ");
    EXPECT_EQ(s, "its a QQQuote");
    ReplaceCharWithText(s, 'z', "-");
    EXPECT_EQ(s, "its a QQQuote");
}

TEST(ReplaceCharWithTextTest, ExportQuotingBecomesSqlQuoting) {
    std::string s = R"("It's ""fine""",NULL)";
    ExportQuotingToSql(s);
    EXPECT_EQ(s, R"('It''s ''fine''',NULL)");
}

TEST(MessageScanTest, LineBreaksAndCommasInsideTheTextBelongToTheRecord) {
    const std::string file = testdata::SmsRecord(1, "\"one, two\r\nthree,\r\n\"", 2);
    const auto records = ScanMessages(file);
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0].handleId, 2);
    EXPECT_EQ(records[0].text.size(), file.size() - 1);
}

TEST(MessageScanTest, OnlyCrLfAfterEnoughFieldsEndsARecord) {
    std::string lfOnly = testdata::SmsRecord(1, "\"a\"", 1) + testdata::SmsRecord(2, "\"b\"", 1);
    for (size_t pos = lfOnly.find('\r'); pos != std::string::npos; pos = lfOnly.find('\r')) {
        lfOnly.erase(pos, 1);
    }
    EXPECT_TRUE(ScanMessages(lfOnly).empty());

    std::string lastWithoutEnd =
        testdata::SmsRecord(1, "\"a\"", 1) + testdata::SmsRecord(2, "\"b\"", 1);
    lastWithoutEnd.resize(lastWithoutEnd.size() - 2);
    const auto records = ScanMessages(lastWithoutEnd);
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0].messageId, 1);

    // A record cut short after its fifth comma, at the very end of the buffer.
    EXPECT_TRUE(ScanMessages("5,\"g\",\"t\",0,NULL,").empty());
}

TEST(MessageScanTest, QuoteCommaInsideATextEndsTheTextField) {
    // The comma after the inner quote ends field 2, so field 5 is read one field early (the
    // service center, NULL, gives 0) and the record has one more counted comma.
    const std::string file = testdata::SmsRecord(4, "\"He said \"\"no\"\", then left\"", 9);
    const auto records = ScanMessages(file);
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0].handleId, 0);
}

TEST(MessageScanTest, ABareNullTextEndsTheTextField) {
    const std::string file = testdata::SmsRecord(1, "NULL", 4) + testdata::SmsRecord(2, "\"x\"", 5);
    const auto records = ScanMessages(file);
    ASSERT_EQ(records.size(), 2u);
    EXPECT_EQ(records[0].handleId, 4);
    EXPECT_EQ(records[1].messageId, 2);
    EXPECT_EQ(records[1].handleId, 5);
}

TEST(ContactScanTest, SplitsFieldsByQuoteAndNullRules) {
    std::map<int, std::string> fields{{1, "\"Ann, Marie\""},
                                      {2, "\"O'Hara\""},
                                      {9, "\"line1\r\nline2\""},
                                      {16, "\"555 1234, ext\""},
                                      {23, "\"last\""}};
    const std::string file = testdata::ContactRecord(42, fields);
    const auto records = ScanContacts(file);
    ASSERT_EQ(records.size(), 1u);
    const ContactRecord& r = records[0];
    EXPECT_EQ(r.personId, 42);
    EXPECT_EQ(r.Field(0), "42");
    EXPECT_EQ(r.Field(1), "\"Ann, Marie\"");
    EXPECT_EQ(r.Field(3), "NULL");
    EXPECT_EQ(r.Field(9), "\"line1\r\nline2\"");
    EXPECT_EQ(r.Field(16), "\"555 1234, ext\"");
    EXPECT_EQ(r.Field(23), "\"last\"");
    EXPECT_EQ(r.text.back(), '\r');
}

TEST(ContactScanTest, ACrLfBeforeTheLastFieldBelongsToTheRecord) {
    // Field 1 ends in CR LF; the record goes on to its 24th field.
    const std::string file =
        testdata::ContactRecord(1, {{1, "\"a\r\n\""}}) + testdata::ContactRecord(2, {});
    const auto records = ScanContacts(file);
    ASSERT_EQ(records.size(), 2u);
    EXPECT_EQ(records[1].personId, 2);
    EXPECT_EQ(records[1].number, 1);
    EXPECT_TRUE(ScanContacts("1,NULL,NULL\r\n").empty());
    std::string lfOnly = testdata::ContactRecord(3, {});
    lfOnly.erase(lfOnly.size() - 2, 1);
    EXPECT_TRUE(ScanContacts(lfOnly).empty());
    EXPECT_TRUE(ScanContacts(std::string_view("NULL,")).empty());
}

TEST(ContactRowsTest, PhoneTokenEndsAtTheFirstBlankFromPositionFour) {
    auto token = [](const std::string& phone) {
        const std::string file = testdata::ContactRecord(1, {{16, phone}});
        const auto records = ScanContacts(file);
        return std::string(PhoneToken(records.at(0)));
    };
    EXPECT_EQ(token("\"5551234567 15551234567\""), "5551234567");
    EXPECT_EQ(token("\"+1 (555) 123-4567 15551234567\""), "+1 (555)");
    EXPECT_EQ(token("\"5551234567\""), "");
    EXPECT_EQ(token("\"555 1234\""), "");
    EXPECT_EQ(token("NULL"), "");
    // The search never runs into the next field.
    const std::string file = testdata::ContactRecord(1, {{16, "\"12345\""}, {17, "\"a b c d e\""}});
    const auto records = ScanContacts(file);
    EXPECT_EQ(PhoneToken(records.at(0)), "");
}

TEST(ContactRowsTest, ExtraTextGathersFieldsFourToTwentyTwoButThePhone) {
    const std::string file = testdata::ContactRecord(3, {{1, "\"First\""},
                                                         {3, "\"Middle\""},
                                                         {7, "\"Acme\""},
                                                         {9, "\"note\""},
                                                         {16, "\"555 0000 1\""},
                                                         {17, "\"a@b.org\""},
                                                         {23, "\"date\""}});
    const auto records = ScanContacts(file);
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(ExtraText(records[0]), "Acme\nnote\na@b.org\n");
    const std::string bareFile = testdata::ContactRecord(4, {{1, "\"x\""}, {16, "\"1\""}});
    const auto bare = ScanContacts(bareFile);
    EXPECT_EQ(ExtraText(bare.at(0)), "");
}

}  // namespace
}  // namespace tolvane
