// The value forms of layout attributes.
#include <gtest/gtest.h>

#include "UiLib/StyleTable.h"
#include "UiLib/Values.h"

namespace UiLib {
namespace {

TEST(Values, ColourWithAndWithoutHashReadsTheSame) {
    EXPECT_EQ(ParseColor("#FFDADADA"), ParseColor("FFDADADA"));
    EXPECT_EQ(ParseColor("#FF454545"), 0xFF454545u);
    EXPECT_EQ(ParseColor("80495867"), 0x80495867u);
    EXPECT_EQ(ParseColor("#495867"), 0xFF495867u);  // six digits are opaque
    EXPECT_EQ(ParseColor("ffdadada"), 0xFFDADADAu);
    for (const char* bad : {"", "#", "FFDADAD", "FFDADADAA", "GGDADADA", "#FF45 545", "-1"}) {
        EXPECT_FALSE(ParseColor(bad).has_value()) << bad;
    }
}

TEST(Values, NumbersSizesAndRectangles) {
    EXPECT_EQ(ParseInt("280"), 280);
    EXPECT_EQ(ParseInt(" -4 "), -4);
    EXPECT_FALSE(ParseInt("12px").has_value());
    EXPECT_FALSE(ParseInt("99999999999").has_value());
    EXPECT_EQ(ParseSize("900,600"), (Size{900, 600}));
    EXPECT_FALSE(ParseSize("900").has_value());
    EXPECT_FALSE(ParseSize("900,600,1").has_value());
    EXPECT_EQ(ParseRect("40,10,0,0"), (Rect{40, 10, 0, 0}));
    EXPECT_EQ(ParseRect("4, 8, 26, 34"), (Rect{4, 8, 26, 34}));
    EXPECT_FALSE(ParseRect("1,2,3").has_value());
    EXPECT_FALSE(ParseRect("1,2,3,4,5").has_value());
    EXPECT_FALSE(ParseRect("1,2,,4").has_value());
    EXPECT_FALSE(ParseRect("a,b,c,d").has_value());
}

TEST(Values, Booleans) {
    EXPECT_EQ(ParseBool("true"), true);
    EXPECT_EQ(ParseBool("false"), false);
    EXPECT_FALSE(ParseBool("TRUE").has_value());
    EXPECT_FALSE(ParseBool("1").has_value());
}

TEST(Values, AttributeListsOfDefaultElements) {
    std::string fault;
    AttributeList list = ParseAttributeList(R"(width="10" text='a b' bkcolor="#FF000000")", &fault);
    ASSERT_EQ(list.size(), 3u);
    EXPECT_EQ(list[1], (std::pair<std::string, std::string>{"text", "a b"}));
    EXPECT_TRUE(fault.empty());
    list = ParseAttributeList(R"(width="10" height=20 x="1")", &fault);
    EXPECT_EQ(list.size(), 1u);  // stops at the unquoted value
    EXPECT_FALSE(fault.empty());
}

}  // namespace
}  // namespace UiLib
