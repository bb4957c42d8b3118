#include "engine/DevicePath.h"

#include <gtest/gtest.h>

using tolvane::JoinDevicePath;

TEST(DevicePath, NamesInsideTheFolderAreJoinedByteForByte) {
    EXPECT_EQ(JoinDevicePath("/b", "UDID/Info.plist"), "/b/UDID/Info.plist");
    EXPECT_EQ(JoinDevicePath("/b", "UDID//Snapshot/./x"), "/b/UDID//Snapshot/./x");
    EXPECT_EQ(JoinDevicePath("/b", "a..b/..c/d.."), "/b/a..b/..c/d..");
    EXPECT_EQ(JoinDevicePath("/b", "\xff\xfe name"), "/b/\xff\xfe name");
}

TEST(DevicePath, NamesThatLeaveTheFolderAreRefused) {
    for (const char* name :
         {"..", "../x", "a/../../x", "a/..", "/etc/passwd", "//x", "a/b/../.."}) {
        EXPECT_FALSE(JoinDevicePath("/b", name)) << name;
        EXPECT_FALSE(JoinDevicePath("/b", name, true)) << name;
    }
    EXPECT_FALSE(JoinDevicePath("/b", std::string_view("a\0/../..", 8)));
}

TEST(DevicePath, TheFolderItselfOnlyWhereAllowed) {
    for (const char* name : {"", ".", "./", "./."}) {
        EXPECT_FALSE(JoinDevicePath("/b", name)) << name;
        EXPECT_TRUE(JoinDevicePath("/b", name, true)) << name;
    }
}

TEST(DevicePath, DeviceErrorCodes) {
    EXPECT_EQ(tolvane::DeviceErrorFromErrno(2), -6);
    EXPECT_EQ(tolvane::DeviceErrorFromErrno(17), -7);
    EXPECT_EQ(tolvane::DeviceErrorFromErrno(14), -14);
}
