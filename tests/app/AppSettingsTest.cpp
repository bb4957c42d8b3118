#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstring>

#include "app/AppSettings.h"
#include "platform/Errors.h"
#include "platform/Files.h"
#include "tests/support/TestEnv.h"

using namespace tolvane;
using testenv::IsolatedHome;
using testenv::ReadFile;
using testenv::ScopedEnv;
using testenv::TempDir;
using testenv::WriteFile;

namespace {

struct Installed {
    IsolatedHome home;
    TempDir program{"tolvane-program"};
    std::string Folder() const { return program.Path() + "/"; }
};

}  // namespace

TEST(AppSettings, MissingFilesGiveTheDefaults) {
    Installed app;
    AppSettings settings(app.Folder());
    EXPECT_EQ(settings.ConfigPath(), app.Folder() + "config.ini");
    EXPECT_EQ(settings.LanguagesFolder(), app.Folder() + "Languages/");
    EXPECT_EQ(settings.LanguageName(), L"English");
    EXPECT_TRUE(settings.LanguageList().empty());
    EXPECT_TRUE(settings.Section("MessageBox").empty());
    EXPECT_TRUE(ReadUserFolder(settings.Config()).empty());
}

TEST(AppSettings, LoadsTheLanguageNamedInConfig) {
    Installed app;
    WriteFile(app.program / "config.ini",
              "[DefaultLanguage]\nDefault=Fran\xC3\xA7"
              "ais\n[Languages]\nEnglish=English\n"
              "Fran\xC3\xA7"
              "ais=Fran\xC3\xA7"
              "ais (France)\n");
    WriteFile(app.program /
                  "Languages/Fran\xC3\xA7"
                  "ais.ini",
              "[MessageBox]\nokbtn=D'accord\nokbtn=Ignored\n[Messages]\nMSG0403=Information\n");
    AppSettings settings(app.Folder());
    EXPECT_EQ(settings.LanguageName(), L"Fran\u00E7ais");
    ASSERT_EQ(settings.LanguageList().size(), 2u);
    EXPECT_EQ(settings.LanguageList()[1].second, L"Fran\u00E7ais (France)");
    EXPECT_EQ(settings.Section("MessageBox").at(L"okbtn"), L"D'accord");
    EXPECT_EQ(settings.Section("Messages").at(L"MSG0403"), L"Information");
    EXPECT_TRUE(settings.Section("Nothing").empty());
}

TEST(AppSettings, WithoutDefaultLanguageEnglishIsLoaded) {
    Installed app;
    WriteFile(app.program / "config.ini", "[Languages]\nEnglish=English\n");
    WriteFile(app.program / "Languages/English.ini", "\xEF\xBB\xBF[SettingsWnd]\nBtnOK=OK");
    AppSettings settings(app.Folder());
    EXPECT_EQ(settings.Section("SettingsWnd").at(L"BtnOK"), L"OK");
}

TEST(AppSettings, LanguageNameCannotLeaveTheLanguagesFolder) {
    Installed app;
    WriteFile(app.program / "config.ini", "[DefaultLanguage]\nDefault=../secret\n");
    WriteFile(app.program / "secret.ini", "[MessageBox]\nokbtn=leaked\n");
    AppSettings settings(app.Folder());
    EXPECT_TRUE(settings.Section("MessageBox").empty());
}

TEST(AppSettings, LongLanguageNameIsCutTo63Characters) {
    Installed app;
    WriteFile(app.program / "config.ini",
              "[DefaultLanguage]\nDefault=" + std::string(100, 'L') + "\n");
    AppSettings settings(app.Folder());
    EXPECT_EQ(settings.LanguageName().size(), 63u);
}

TEST(UserFolder, WrittenBesideTheProgramAndReadBack) {
    Installed app;
    WriteFile(app.program / "config.ini", "[DefaultLanguage]\nDefault=English\n");
    AppSettings settings(app.Folder());
    ASSERT_EQ(WriteUserFolder(settings.Config(), L"/home/u/My Backups \u00E9"), 0);
    EXPECT_EQ(ReadUserFolder(settings.Config()), L"/home/u/My Backups \u00E9");
    EXPECT_NE(ReadFile(app.program / "config.ini").find("[DefaultLanguage]"), std::string::npos);
    EXPECT_FALSE(platform::FileExists(UserConfigPath()));
}

TEST(UserFolder, UnwritableProgramFolderFallsBackToThePerUserFile) {
    IsolatedHome home;
    TempDir dir;
    WriteFile(dir / "not-a-folder", "x");
    // A program folder below a file can never be written, whoever runs the test.
    ConfigStore config(dir.Path() + "/not-a-folder/config.ini", UserConfigPath());
    ASSERT_EQ(WriteUserFolder(config, L"/backups"), 0);
    EXPECT_TRUE(platform::FileExists(UserConfigPath()));
    EXPECT_EQ(ReadUserFolder(config), L"/backups");
}

TEST(UserFolder, PerUserFileIsReadFirstAndKeepsBeingWritten) {
    Installed app;
    WriteFile(app.program / "config.ini", "[Folder]\nUserFolder=/program\n");
    WriteFile(UserConfigPath(), "[Folder]\nUserFolder=/user\n");
    ConfigStore config(app.program / "config.ini", UserConfigPath());
    EXPECT_EQ(ReadUserFolder(config), L"/user");
    ASSERT_EQ(WriteUserFolder(config, L"/newer"), 0);
    EXPECT_EQ(ReadUserFolder(config), L"/newer");
    EXPECT_NE(ReadFile(app.program / "config.ini").find("/program"), std::string::npos);
}

TEST(UserFolder, AReadOnlyProgramCopyIsNeverWrittenThoughItCouldBe) {
    Installed app;
    const std::string shipped =
        "[DefaultLanguage]\nDefault=English\n[Folder]\nUserFolder=/program\n";
    WriteFile(app.program / "config.ini", shipped);
    ConfigStore config(app.program / "config.ini", UserConfigPath(),
                       ConfigStore::ProgramCopy::ReadOnly);
    EXPECT_EQ(ReadUserFolder(config), L"/program");  // read as before
    ASSERT_EQ(WriteUserFolder(config, L"/mine"), 0);
    EXPECT_EQ(ReadFile(app.program / "config.ini"), shipped);
    EXPECT_NE(ReadFile(UserConfigPath()).find("UserFolder=/mine"), std::string::npos);
    EXPECT_EQ(ReadUserFolder(config), L"/mine");

    // Without a per-user file to go to, the write fails rather than touching the program's.
    ConfigStore nowhere(app.program / "config.ini", "", ConfigStore::ProgramCopy::ReadOnly);
    EXPECT_EQ(WriteUserFolder(nowhere, L"/other"), platform::kErrorAccessDenied);
    EXPECT_EQ(ReadFile(app.program / "config.ini"), shipped);
}

TEST(UserFolder, TheInstalledProgramFolderKeepsItsSettingsWhoeverRunsTheProgram) {
    IsolatedHome home;
    const std::string installed = TOLVANE_INSTALLED_PROGRAM_FOLDER;
    EXPECT_TRUE(IsInstalledProgramFolder(installed));
    EXPECT_FALSE(IsInstalledProgramFolder(std::string(TOLVANE_BIN_DIR) + "/"));
    EXPECT_FALSE(IsInstalledProgramFolder(installed + "sub/"));

    // Where a package is installed, its config.ini may be writable by the user running this test
    // (root): it must still come out unchanged.
    const std::string shippedPath = installed + "config.ini";
    const bool shippedExists = platform::FileExists(shippedPath);
    const std::string before = shippedExists ? ReadFile(shippedPath) : std::string();
    AppSettings settings(installed);
    EXPECT_EQ(settings.Config().ProgramConfigPath(), shippedPath);
    ASSERT_EQ(WriteUserFolder(settings.Config(), L"/backups/mine"), 0);
    EXPECT_NE(ReadFile(UserConfigPath()).find("UserFolder=/backups/mine"), std::string::npos);
    EXPECT_EQ(ReadUserFolder(settings.Config()), L"/backups/mine");
    EXPECT_EQ(platform::FileExists(shippedPath), shippedExists);
    if (shippedExists) {
        EXPECT_EQ(ReadFile(shippedPath), before);
    }
}

TEST(UserFolder, AWriteThatCannotLandAnywhereIsReported) {
    TempDir dir;
    WriteFile(dir / "file", "x");
    ConfigStore config(dir.Path() + "/file/config.ini", dir.Path() + "/file/user/config.ini");
    EXPECT_NE(WriteUserFolder(config, L"/backups"), 0);
}

TEST(UserFolder, LongValueIsCutTo260Characters) {
    Installed app;
    WriteFile(app.program / "config.ini", "[Folder]\nUserFolder=/" + std::string(400, 'a') + "\n");
    ConfigStore config(app.program / "config.ini", UserConfigPath());
    EXPECT_EQ(ReadUserFolder(config).size(), 260u);
}

TEST(CreateFolderPath, CreatesEveryMissingPrefix) {
    TempDir dir;
    const std::wstring base(dir.Path().begin(), dir.Path().end());
    EXPECT_EQ(CreateFolderPath(base + L"\\one\\two/three"), 0);
    EXPECT_TRUE(platform::FolderExists(dir / "one/two/three"));
    EXPECT_EQ(CreateFolderPath(base + L"/one/two/three/"), 0);  // nothing left to make
    WriteFile(dir / "blocker", "");
    EXPECT_NE(CreateFolderPath(base + L"/blocker/below"), 0);
}

TEST(PrepareBackupFolder, CreatesTheFolderAndRefusesOnesThatCannotBeUsed) {
    TempDir dir;
    const std::wstring base(dir.Path().begin(), dir.Path().end());
    EXPECT_EQ(PrepareBackupFolder(base + L"/one/two"), 0);
    EXPECT_TRUE(platform::FolderExists(dir / "one/two"));
    EXPECT_EQ(PrepareBackupFolder(base + L"/one/two"), 0);  // an existing folder is fine
    WriteFile(dir / "blocker", "");
    EXPECT_NE(PrepareBackupFolder(base + L"/blocker"), 0);
    EXPECT_NE(PrepareBackupFolder(base + L"/blocker/below"), 0);
    EXPECT_NE(PrepareBackupFolder(L"/proc"), 0);
    // Too long to be stored whole: refused before anything is made.
    EXPECT_EQ(PrepareBackupFolder(base + L"/" + std::wstring(300, L'x') + L"/y"),
              platform::kErrorFilenameTooLong);
    EXPECT_EQ(testenv::FilesUnder(dir.Path()).size(), 1u);  // only the blocker
}

TEST(AppleSoftware, PresentExactlyWhenTheUsbmuxSocketExists) {
    TempDir dir;
    const std::string path = dir / "usbmuxd.sock";
    ScopedEnv env("USBMUXD_SOCKET_ADDRESS", "UNIX:" + path);
    EXPECT_FALSE(IsAppleSoftwareInstalled());
    WriteFile(path, "");  // a plain file is not the service
    EXPECT_FALSE(IsAppleSoftwareInstalled());
    unlink(path.c_str());
    const int fd = socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    std::strncpy(addr.sun_path, path.c_str(), sizeof addr.sun_path - 1);
    ASSERT_EQ(bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
    EXPECT_TRUE(IsAppleSoftwareInstalled());
    close(fd);
    ScopedEnv tcp("USBMUXD_SOCKET_ADDRESS", "127.0.0.1:27015");
    EXPECT_TRUE(IsAppleSoftwareInstalled());
}

TEST(ShippedFiles, ConfigAndEnglishAreBesideThePrograms) {
    AppSettings settings(std::string(TOLVANE_BIN_DIR) + "/");
    EXPECT_EQ(settings.LanguageName(), L"English");
    EXPECT_FALSE(settings.LanguageList().empty());
    EXPECT_EQ(settings.Section("Messages").at(L"MSG0401"), L"Error");
}
