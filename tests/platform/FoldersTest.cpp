#include <gtest/gtest.h>

#include "platform/Folders.h"
#include "tests/support/TestEnv.h"

using namespace platform;
using testenv::IsolatedHome;
using testenv::ScopedEnv;
using testenv::WriteFile;

TEST(Folders, FollowHomeAndXdgVariables) {
    IsolatedHome home;
    EXPECT_EQ(HomeFolder(), home.Home());
    EXPECT_EQ(AppDataFolder(), home.Home() + "/.local/share");
    EXPECT_EQ(ConfigHomeFolder(), home.Home() + "/.config");
    EXPECT_EQ(ItunesBackupFolder(), home.Home() + "/.local/share/Apple Computer/MobileSync/Backup");
    EXPECT_EQ(RuntimeFolder(), home.Home() + "/run");
    EXPECT_EQ(DocumentsFolder(), home.Home() + "/Documents");
}

TEST(Folders, DefaultsApplyWithoutXdgVariablesOrWithRelativeOnes) {
    IsolatedHome home;
    ScopedEnv data("XDG_DATA_HOME", std::nullopt);
    ScopedEnv config("XDG_CONFIG_HOME", "relative/is/ignored");
    ScopedEnv runtime("XDG_RUNTIME_DIR", home.Home() + "/does-not-exist");
    EXPECT_EQ(AppDataFolder(), home.Home() + "/.local/share");
    EXPECT_EQ(ConfigHomeFolder(), home.Home() + "/.config");
    EXPECT_EQ(RuntimeFolder(), "/tmp");
}

TEST(Folders, DocumentsFolderComesFromUserDirs) {
    IsolatedHome home;
    WriteFile(
        home.Home() + "/.config/user-dirs.dirs",
        "# comment\nXDG_DESKTOP_DIR=\"$HOME/Desktop\"\nXDG_DOCUMENTS_DIR=\"$HOME/Dokumente\"\n");
    EXPECT_EQ(DocumentsFolder(), home.Home() + "/Dokumente");
    WriteFile(home.Home() + "/.config/user-dirs.dirs", "XDG_DOCUMENTS_DIR=\"/srv/docs/\"\n");
    EXPECT_EQ(DocumentsFolder(), "/srv/docs");
    // Disabled (the home folder itself) or malformed: the default.
    WriteFile(home.Home() + "/.config/user-dirs.dirs", "XDG_DOCUMENTS_DIR=\"$HOME/\"\n");
    EXPECT_EQ(DocumentsFolder(), home.Home() + "/Documents");
    WriteFile(home.Home() + "/.config/user-dirs.dirs", "XDG_DOCUMENTS_DIR=\"unterminated\n");
    EXPECT_EQ(DocumentsFolder(), home.Home() + "/Documents");
}

TEST(Folders, ProgramFolderIsTheFolderOfTheTestProgram) {
    const std::string folder = ProgramFolder();
    ASSERT_FALSE(folder.empty());
    EXPECT_EQ(folder.back(), '/');
    EXPECT_EQ(folder.front(), '/');
    SetProgramFolderForTesting("/opt/tolvane");
    EXPECT_EQ(ProgramFolder(), "/opt/tolvane/");
    SetProgramFolderForTesting("");
    EXPECT_EQ(ProgramFolder(), folder);
}
