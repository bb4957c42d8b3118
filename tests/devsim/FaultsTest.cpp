// The fault flags as the engine's tests spell them, and the ones that must be refused.
#include <gtest/gtest.h>

#include "devsim/Faults.h"

namespace devsim {
namespace {

Faults Parse(std::initializer_list<const char*> flags) {
    Faults faults;
    for (const char* f : flags) {
        std::string error;
        EXPECT_TRUE(ParseFault(f, faults, error)) << f << ": " << error;
    }
    return faults;
}

TEST(FaultsTest, EveryFlagSetsItsField) {
    const Faults f =
        Parse({"unplug-after-messages=12", "unplug-after-bytes=1048576", "silent-after-messages=3",
               "lock-held=5", "willencrypt=absent", "backup-port-zero", "afc-unavailable",
               "np-unavailable", "refuse-restore=211:Restore refused: phone busy",
               "fail-backup=105:No room", "rate=25.5", "hostile-names"});
    EXPECT_EQ(f.unplugAfterMessages, 12u);
    EXPECT_EQ(f.unplugAfterBytes, 1048576u);
    EXPECT_EQ(f.silentAfterMessages, 3u);
    EXPECT_EQ(f.lockHeldSeconds, 5u);
    EXPECT_FALSE(f.lockHeldForever);
    EXPECT_TRUE(f.willEncryptAbsent);
    EXPECT_FALSE(f.willEncryptFail);
    EXPECT_TRUE(f.backupPortZero);
    EXPECT_TRUE(f.afcUnavailable);
    EXPECT_TRUE(f.npUnavailable);
    ASSERT_TRUE(f.refuseRestore.has_value());
    EXPECT_EQ(f.refuseRestore->code, 211u);
    // The description keeps its own colons and spaces.
    EXPECT_EQ(f.refuseRestore->description, "Restore refused: phone busy");
    ASSERT_TRUE(f.failBackup.has_value());
    EXPECT_EQ(f.failBackup->code, 105u);
    EXPECT_EQ(f.failBackup->description, "No room");
    EXPECT_DOUBLE_EQ(f.rateMBps, 25.5);
    EXPECT_TRUE(f.hostileNames);

    const Faults g = Parse({"lock-held=forever", "willencrypt=fail"});
    EXPECT_TRUE(g.lockHeldForever);
    EXPECT_TRUE(g.willEncryptFail);
}

TEST(FaultsTest, MalformedFlagsAreRefusedWithAReason) {
    for (const char* bad :
         {"unplug-after-messages", "unplug-after-messages=", "unplug-after-messages=-1",
          "unplug-after-bytes=12k", "lock-held=soon", "willencrypt=maybe", "rate=0", "rate=fast",
          "refuse-restore=abc:text", "refuse-restore=12", "refuse-restore=0:zero is success",
          "fail-backup=:x", "backup-port-zero=1", "unknown-fault"}) {
        Faults faults;
        std::string error;
        EXPECT_FALSE(ParseFault(bad, faults, error)) << bad;
        EXPECT_FALSE(error.empty()) << bad;
    }
}

}  // namespace
}  // namespace devsim
