// Image description strings.
#include <gtest/gtest.h>

#include "UiLib/ImageString.h"

namespace UiLib {
namespace {

TEST(ImageString, BareFileName) {
    ParsedImage p = ParseImageString("  MainWnd.png ");
    EXPECT_EQ(p.image.file, "MainWnd.png");
    EXPECT_TRUE(p.fault.empty());
    EXPECT_FALSE(p.image.source.has_value());
    EXPECT_EQ(p.image.fade, 255);
}

TEST(ImageString, EveryKey) {
    ParsedImage p = ParseImageString(
        "file='Controls.png' source='359,38,375,54' dest='0,4,16,20' corner='5,6,7,8' "
        "mask='#FFFF00FF' fade='128' hole='true' xtiled='true' ytiled='false' res='12' "
        "restype='PNG'");
    ASSERT_TRUE(p.fault.empty()) << p.fault;
    EXPECT_EQ(p.image.file, "Controls.png");
    EXPECT_EQ(p.image.source, (Rect{359, 38, 375, 54}));
    EXPECT_EQ(p.image.dest, (Rect{0, 4, 16, 20}));
    EXPECT_EQ(p.image.corner, (Rect{5, 6, 7, 8}));
    EXPECT_EQ(p.image.mask, 0xFFFF00FFu);
    EXPECT_EQ(p.image.fade, 128);
    EXPECT_TRUE(p.image.hole);
    EXPECT_TRUE(p.image.xtiled);
    EXPECT_FALSE(p.image.ytiled);
    EXPECT_EQ(p.image.res, "12");
    EXPECT_EQ(p.image.restype, "PNG");
    EXPECT_EQ(p.image.Picture(), "Controls.png");
}

TEST(ImageString, ResourceInsteadOfFile) {
    ParsedImage p = ParseImageString("res='logo.png' restype='PNG'");
    EXPECT_EQ(p.image.Picture(), "logo.png");
}

TEST(ImageString, MalformedItemEndsParsing) {
    // Missing quote: what came before is kept, nothing after.
    ParsedImage p = ParseImageString("file='a.png' source=1,2,3,4 fade='10'");
    EXPECT_EQ(p.image.file, "a.png");
    EXPECT_FALSE(p.image.source.has_value());
    EXPECT_EQ(p.image.fade, 255);
    EXPECT_FALSE(p.fault.empty());

    p = ParseImageString("file='a.png' source='1,2,3,4");  // unterminated value
    EXPECT_EQ(p.image.file, "a.png");
    EXPECT_FALSE(p.image.source.has_value());
    EXPECT_FALSE(p.fault.empty());

    p = ParseImageString("file='a.png' ='x' fade='1'");  // empty key
    EXPECT_EQ(p.image.fade, 255);
    EXPECT_FALSE(p.fault.empty());

    p = ParseImageString("file'a.png'=");
    EXPECT_TRUE(p.image.file.empty());
    EXPECT_FALSE(p.fault.empty());
}

TEST(ImageString, BadValuesAndUnknownKeysAreSkipped) {
    ParsedImage p = ParseImageString("file='a.png' fade='300' glow='yes' source='1,2,3,4'");
    EXPECT_EQ(p.image.fade, 255);
    EXPECT_EQ(p.image.source, (Rect{1, 2, 3, 4}));
    EXPECT_NE(p.fault.find("fade"), std::string::npos);

    p = ParseImageString("file='a.png' source='1,2,3' hole='yes' mask='red'");
    EXPECT_FALSE(p.image.source.has_value());
    EXPECT_FALSE(p.image.hole);
    EXPECT_FALSE(p.image.mask.has_value());
}

TEST(ImageString, ValuesMayHoldBlanksAndEquals) {
    ParsedImage p = ParseImageString("file='my pic=1.png'   dest='1,1,2,2'");
    EXPECT_TRUE(p.fault.empty());
    EXPECT_EQ(p.image.file, "my pic=1.png");
    EXPECT_EQ(p.image.dest, (Rect{1, 1, 2, 2}));
}

}  // namespace
}  // namespace UiLib
