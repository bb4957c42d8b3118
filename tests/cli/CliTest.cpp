#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <set>

#include "app/AppSettings.h"
#include "cli/BackupCommand.h"
#include "cli/BackupListing.h"
#include "cli/Command.h"
#include "cli/FolderCommand.h"
#include "cli/ImportCommand.h"
#include "cli/ProgressPrinter.h"
#include "cli/RestoreCommand.h"
#include "platform/Results.h"
#include "store/Catalogue.h"
#include "store/DataCategory.h"
#include "tests/support/TestEnv.h"

using namespace tolvane;
using namespace tolvane::cli;

namespace {

BackupOptions Parse(std::vector<std::string> args, bool expectOk = true) {
    BackupOptions options;
    std::string problem;
    EXPECT_EQ(ParseBackupOptions(args, options, problem), expectOk) << problem;
    if (!expectOk) {
        EXPECT_FALSE(problem.empty());
    }
    return options;
}

TEST(BackupOptions, CategoriesAreFullOrMessagesAndOrContacts) {
    EXPECT_EQ(Parse({}).categories, Full);
    EXPECT_EQ(Parse({"--full"}).categories, Full);
    EXPECT_EQ(Parse({"--sms"}).categories, Sms);
    EXPECT_EQ(Parse({"--contacts"}).categories, Contacts);
    EXPECT_EQ(Parse({"--contacts", "--sms"}).categories, Sms | Contacts);
    Parse({"--full", "--sms"}, false);
    Parse({"--contacts", "--full"}, false);
}

TEST(BackupOptions, FolderAndPasswordTakeTheirValues) {
    const BackupOptions o = Parse({"--folder", "/tmp/b", "--password", "", "--sms"});
    EXPECT_EQ(o.folder, "/tmp/b");
    ASSERT_TRUE(o.password.has_value());
    EXPECT_EQ(*o.password, "");  // an empty password is still a password
    EXPECT_FALSE(Parse({"--full"}).password.has_value());
    Parse({"--folder"}, false);
    Parse({"--folder", ""}, false);
    Parse({"--everything"}, false);
    Parse({"full"}, false);
}

RestoreOptions ParseRestore(std::vector<std::string> args, bool expectOk = true) {
    RestoreOptions options;
    std::string problem;
    EXPECT_EQ(ParseRestoreOptions(args, options, problem), expectOk) << problem;
    if (!expectOk) {
        EXPECT_FALSE(problem.empty());
    }
    return options;
}

TEST(RestoreOptions, OneBackupFolderWithItsCategoryAndPasswords) {
    const RestoreOptions whole = ParseRestore({"/b/2015-03-07-18-05-09"});
    EXPECT_EQ(whole.backup, "/b/2015-03-07-18-05-09");
    EXPECT_EQ(whole.categories, Full);
    EXPECT_FALSE(whole.itunes);
    EXPECT_FALSE(whole.password.has_value());
    EXPECT_FALSE(whole.devicePassword.has_value());

    const RestoreOptions o = ParseRestore({"--contacts", "--itunes", "/i/x y", "--password", "a b",
                                           "--device-password", "", "--sms"});
    EXPECT_EQ(o.backup, "/i/x y");
    EXPECT_EQ(o.categories, Sms | Contacts);
    EXPECT_TRUE(o.itunes);
    EXPECT_EQ(o.password.value_or("none"), "a b");
    EXPECT_EQ(o.devicePassword.value_or("none"), "");
    EXPECT_EQ(ParseRestore({"b", "--full"}).categories, Full);
    EXPECT_EQ(ParseRestore({"--sms", "b"}).categories, Sms);

    ParseRestore({}, false);
    ParseRestore({"--sms"}, false);
    ParseRestore({"a", "b"}, false);
    ParseRestore({"b", "--full", "--sms"}, false);
    ParseRestore({"b", "--folder", "x"}, false);
    ParseRestore({""}, false);
}

TEST(FailureTexts, SayWhatTheEngineFoundNotWhatTheNumberCouldMean) {
    using platform::Failure;
    // Every kind a restore can end with has its own sentence; the generic one is for the rest.
    std::set<std::string> texts;
    for (Failure what : {Failure::DeviceGone, Failure::Cancelled, Failure::IncompleteBackup,
                         Failure::WrongPassword, Failure::MissingFolder, Failure::MissingDatabase,
                         Failure::UnusableDatabase, Failure::PasswordNeeded, Failure::None}) {
        texts.insert(RestoreFailureText(what));
    }
    EXPECT_EQ(texts.size(), 9u);
    EXPECT_EQ(RestoreFailureText(Failure::DeviceService), RestoreFailureText(Failure::None));
    // 2 from a missing database is not a backup without its device folder.
    EXPECT_NE(RestoreFailureText(Failure::MissingDatabase),
              RestoreFailureText(Failure::IncompleteBackup));

    // A backup is "cancelled" only when the callback stopped it; a phone without its message
    // database (also 2) says so, and names the database that was asked for.
    EXPECT_EQ(BackupFailureText(Failure::Cancelled, Sms), "the backup was cancelled");
    EXPECT_EQ(BackupFailureText(Failure::MissingDatabase, Sms),
              "the phone has no message database");
    EXPECT_EQ(BackupFailureText(Failure::MissingDatabase, Contacts),
              "the phone has no contacts database");
    EXPECT_EQ(BackupFailureText(Failure::None, Full), "the backup failed");
    EXPECT_EQ(BackupFailureText(Failure::DeviceError, Full), "the backup failed");

    EXPECT_EQ(ListingFailureText(Failure::MissingDatabase, "message database"),
              "the backup holds no message database");
    EXPECT_EQ(ListingFailureText(Failure::IncompleteBackup, "message database"),
              "the backup lacks files its decryption needs");
    EXPECT_EQ(ListingFailureText(Failure::None, "contacts database"),
              "cannot read the contacts database");
}

TEST(ExitStatus, IsZeroOrTheResultClampedIntoAByte) {
    EXPECT_EQ(ExitStatusFor(0), 0);
    EXPECT_EQ(ExitStatusFor(platform::kResultCancelled), 2);
    EXPECT_EQ(ExitStatusFor(platform::kResultMissing), 87);
    EXPECT_EQ(ExitStatusFor(255), 255);
    EXPECT_EQ(ExitStatusFor(1006), 255);
    EXPECT_EQ(ExitStatusFor(platform::kResultDeviceGone), 1);
    EXPECT_EQ(ExitStatusFor(-208), 1);
}

TEST(Commands, EachCommandIsRegisteredOnceInNameOrder) {
    std::vector<std::string> names;
    for (const Command& c : Commands()) {
        names.emplace_back(c.name);
    }
    EXPECT_EQ(names, (std::vector<std::string>{"backup", "contacts", "folder", "import", "info",
                                               "list", "messages", "restore"}));
}

ImportOptions ParseImport(std::vector<std::string> args, bool expectOk = true) {
    ImportOptions options;
    std::string problem;
    EXPECT_EQ(ParseImportOptions(args, options, problem), expectOk) << problem;
    if (!expectOk) {
        EXPECT_FALSE(problem.empty());
    }
    return options;
}

TEST(ImportOptions, CategoriesComeFromTheFilesGiven) {
    ImportOptions o = ParseImport({"--sms", "a/sms.csv"});
    EXPECT_EQ(o.categories, Sms);
    EXPECT_EQ(o.smsFile, "a/sms.csv");
    EXPECT_EQ(o.contactsFile, "");
    EXPECT_FALSE(o.password.has_value());

    o = ParseImport({"--contacts", "AddressBook.sqlitedb", "--password", "pw", "--sms", "s"});
    EXPECT_EQ(o.categories, Sms | Contacts);
    EXPECT_EQ(o.contactsFile, "AddressBook.sqlitedb");
    EXPECT_EQ(o.smsFile, "s");
    EXPECT_EQ(o.password, std::optional<std::string>("pw"));

    ParseImport({}, false);
    ParseImport({"--password", "pw"}, false);  // nothing to import
    ParseImport({"--sms"}, false);
    ParseImport({"--sms", ""}, false);
    ParseImport({"--sms", "a", "--sms", "b"}, false);
    ParseImport({"--contacts", "a", "--full"}, false);
    ParseImport({"sms.csv"}, false);
}

ListingOptions ParseListing(std::vector<std::string> args, bool expectOk = true) {
    ListingOptions options;
    std::string problem;
    EXPECT_EQ(ParseListingOptions(args, options, problem), expectOk) << problem;
    if (!expectOk) {
        EXPECT_FALSE(problem.empty());
    }
    return options;
}

TEST(ListingOptions, OneFolderAndAPasswordOnlyForTheOtherProgramsBackups) {
    ListingOptions o = ParseListing({"/b/2015-03-04-09-05-07"});
    EXPECT_EQ(o.folder, "/b/2015-03-04-09-05-07");
    EXPECT_FALSE(o.itunes);
    o = ParseListing({"--itunes", "/i/abc", "--password", ""});
    EXPECT_TRUE(o.itunes);
    EXPECT_EQ(o.folder, "/i/abc");
    EXPECT_EQ(o.password, std::optional<std::string>(""));

    ParseListing({}, false);
    ParseListing({""}, false);
    ParseListing({"/a", "/b"}, false);
    ParseListing({"/a", "--password", "pw"}, false);
    ParseListing({"/a", "--full"}, false);
}

TEST(Listing, EveryItemStaysOneLineAndCanBeReadBack) {
    EXPECT_EQ(ListingLine(L"plain"), "plain");
    EXPECT_EQ(ListingLine(L"Z\u00f8e \U0001F600"),
              "Z\xC3\xB8"
              "e \xF0\x9F\x98\x80");
    EXPECT_EQ(ListingLine(L"two\r\nlines\nand a \\ here"), "two\\r\\nlines\\nand a \\\\ here");

    char* buffer = nullptr;
    size_t size = 0;
    std::FILE* stream = open_memstream(&buffer, &size);
    PrintListing(stream, {L"first", L"", L"a\nb"}, "messages");
    std::fclose(stream);
    EXPECT_EQ(std::string(buffer, size), "3 messages\nfirst\n\na\\nb\n");
    free(buffer);
}

std::string Printed(bool terminal, const std::vector<std::pair<int, bool>>& updates) {
    char* buffer = nullptr;
    size_t size = 0;
    std::FILE* stream = open_memstream(&buffer, &size);
    {
        ProgressPrinter printer(stream, terminal);
        for (const auto& [percent, backup] : updates) {
            ProgressPrinter::Callback(&printer, percent, backup ? 1 : 0);
        }
        printer.Finish();
    }
    std::fclose(stream);
    std::string text(buffer, size);
    free(buffer);
    return text;
}

TEST(Progress, PlainLinesOnlyWhenTheFigureChanges) {
    EXPECT_EQ(Printed(false, {{5, true}, {5, true}, {7, true}, {7, false}, {150, false}}),
              "Backing up: 5%\nBacking up: 7%\nRestoring: 7%\nRestoring: 100%\n");
}

TEST(Progress, BarIsRedrawnInPlaceAndEndedWithOneLineFeed) {
    const std::string text = Printed(true, {{0, true}, {50, true}, {100, true}});
    EXPECT_EQ(std::count(text.begin(), text.end(), '\r'), 3);
    EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 1);
    EXPECT_NE(text.find("[" + std::string(20, '#') + std::string(20, '.') + "]  50%"),
              std::string::npos);
    EXPECT_NE(text.find("[" + std::string(40, '#') + "] 100%\n"), std::string::npos);
    EXPECT_EQ(Printed(true, {}), "");
}

TEST(ProgressFigures, BytesSpeedAndTimeLeftAreShownReadably) {
    EXPECT_EQ(FormatBytes(0), "0 bytes");
    EXPECT_EQ(FormatBytes(999), "999 bytes");
    EXPECT_EQ(FormatBytes(1500), "2 kB");
    EXPECT_EQ(FormatBytes(23456789), "23.5 MB");
    EXPECT_EQ(FormatBytes(64000000000ull), "64.0 GB");
    EXPECT_EQ(FormatDuration(7), "0:07");
    EXPECT_EQ(FormatDuration(725), "12:05");
    EXPECT_EQ(FormatDuration(3723), "1:02:03");
    EXPECT_EQ(FormatDuration(-5), "0:00");
    ProgressDetails d;
    d.percent = 40;
    d.bytes = 12300000;
    d.bytesPerSecond = 25100000;
    d.secondsLeft = 35;
    EXPECT_EQ(FormatProgressFigures(d), "12.3 MB, 25.1 MB/s, 0:35 left");
    d.secondsLeft = -1;
    EXPECT_EQ(FormatProgressFigures(d), "12.3 MB, 25.1 MB/s");

    // The plain lines carry the figures after the percent.
    std::FILE* stream = std::tmpfile();
    ASSERT_NE(stream, nullptr);
    {
        ProgressPrinter printer(stream, false);
        d.secondsLeft = 35;
        ProgressPrinter::DetailedCallback(&printer, d, 1);
        ProgressPrinter::DetailedCallback(&printer, d, 1);  // the same percent: no new line
        printer.Finish();
    }
    std::rewind(stream);
    char line[256] = {};
    std::string text;
    while (std::fgets(line, sizeof line, stream) != nullptr) {
        text += line;
    }
    std::fclose(stream);
    EXPECT_EQ(text, "Backing up: 40% - 12.3 MB, 25.1 MB/s, 0:35 left\n");
}

}  // namespace

namespace {

// The folder command on a program copy of config.ini that is only read (as for an installed
// program) and the per-user copy of an isolated home.
struct FolderSettings {
    testenv::IsolatedHome home;
    testenv::TempDir program{"tolvane-program"};
    std::string shipped = "[DefaultLanguage]\nDefault=English\n";
    ConfigStore config{program / "config.ini", UserConfigPath(),
                       ConfigStore::ProgramCopy::ReadOnly};
    FolderSettings() { testenv::WriteFile(program / "config.ini", shipped); }

    std::pair<int, std::string> Run(std::vector<std::string> args) {
        testing::internal::CaptureStdout();
        const int status = RunFolder(args, config);
        return {status, testing::internal::GetCapturedStdout()};
    }
};

}  // namespace

TEST(FolderCommand, ShowsTheFolderInUseAndStoresANewOneInTheUsersSettings) {
    FolderSettings s;
    EXPECT_EQ(s.Run({}), std::make_pair(0, DefaultBackupRoot() + "\n"));

    const std::string target = s.home.Home() + "/Backups/phone";
    EXPECT_EQ(s.Run({target}), std::make_pair(0, "Backup folder: " + target + "\n"));
    EXPECT_TRUE(std::filesystem::is_directory(target));  // made with its parents
    EXPECT_EQ(s.Run({}), std::make_pair(0, target + "\n"));
    EXPECT_NE(testenv::ReadFile(UserConfigPath()).find("UserFolder=" + target), std::string::npos);
    EXPECT_EQ(testenv::ReadFile(s.program / "config.ini"), s.shipped);

    EXPECT_EQ(s.Run({"--default"}).first, 0);
    EXPECT_EQ(s.Run({}), std::make_pair(0, DefaultBackupRoot() + "\n"));
    EXPECT_EQ(testenv::ReadFile(s.program / "config.ini"), s.shipped);
}

TEST(FolderCommand, RefusesFoldersThatCannotBeUsedAndKeepsTheSetting) {
    FolderSettings s;
    const std::string good = s.home.Home() + "/good";
    ASSERT_EQ(s.Run({good}).first, 0);
    testenv::WriteFile(s.home.Home() + "/a-file", "x");

    EXPECT_EQ(s.Run({"relative/folder"}).first, 64);
    EXPECT_EQ(s.Run({"a", "b"}).first, 64);
    EXPECT_NE(s.Run({s.home.Home() + "/a-file/below"}).first, 0);
    EXPECT_NE(s.Run({"/proc/tolvane-cannot-be-made"}).first, 0);  // not even by root
    EXPECT_FALSE(std::filesystem::exists("relative"));
    EXPECT_EQ(s.Run({}), std::make_pair(0, good + "\n"));
}

namespace {

// Standard input replaced by a pipe holding `input` while the object lives.
class PipedInput {
  public:
    explicit PipedInput(const std::string& input) {
        int fds[2];
        EXPECT_EQ(pipe(fds), 0);
        EXPECT_EQ(write(fds[1], input.data(), input.size()), static_cast<ssize_t>(input.size()));
        close(fds[1]);
        saved_ = dup(0);
        dup2(fds[0], 0);
        close(fds[0]);
    }
    ~PipedInput() {
        dup2(saved_, 0);
        close(saved_);
    }
    // What the parser left unread.
    static std::string Rest() {
        std::string rest;
        char c = 0;
        while (read(0, &c, 1) == 1) {
            rest += c;
        }
        return rest;
    }

  private:
    int saved_ = -1;
};

TEST(PasswordOptions, DashReadsOneLineOfStandardInputPerOption) {
    {
        PipedInput in("first secret\r\nsecond\nnot for us\n");
        const RestoreOptions o =
            ParseRestore({"b", "--itunes", "--password", "-", "--device-password", "-", "--sms"});
        EXPECT_EQ(o.password.value_or("none"), "first secret");
        EXPECT_EQ(o.devicePassword.value_or("none"), "second");
        EXPECT_EQ(o.categories, Sms);
        // Nothing past the second line was taken.
        EXPECT_EQ(PipedInput::Rest(), "not for us\n");
    }
    {
        PipedInput in("\n");  // an empty line is an empty password
        EXPECT_EQ(Parse({"--password", "-"}).password, std::optional<std::string>(""));
    }
    {
        PipedInput in("last line without its end");
        EXPECT_EQ(ParseImport({"--sms", "s.csv", "--password", "-"}).password,
                  std::optional<std::string>("last line without its end"));
    }
    {
        PipedInput in("");  // no line at all: refused, not taken as an empty password
        Parse({"--password", "-"}, false);
        ParseListing({"--itunes", "/a", "--password", "-"}, false);
    }
    // The value form stays for older scripts.
    EXPECT_EQ(Parse({"--password", "pw", "--sms"}).password, std::optional<std::string>("pw"));
}

// Without a value the password is asked on the terminal; a process without one is told how to
// give it instead (run in a child of its own session, which has no controlling terminal).
TEST(PasswordOptions, WithoutAValueAndWithoutATerminalTheSafeFormIsNamed) {
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        close(fds[0]);
        setsid();
        std::string problem;
        BackupOptions backup;
        RestoreOptions restore;
        std::string out;
        out += ParseBackupOptions({"--password", "--sms"}, backup, problem) ? "ok" : "refused";
        out += "|" + problem + "|";
        problem.clear();
        out += ParseRestoreOptions({"b", "--device-password"}, restore, problem) ? "ok" : "refused";
        out += "|" + problem;
        [[maybe_unused]] ssize_t n = write(fds[1], out.data(), out.size());
        _exit(0);
    }
    close(fds[1]);
    std::string out;
    char buf[512];
    for (ssize_t n; (n = read(fds[0], buf, sizeof buf)) > 0;) {
        out.append(buf, static_cast<size_t>(n));
    }
    close(fds[0]);
    int status = 0;
    waitpid(child, &status, 0);
    EXPECT_EQ(out.rfind("refused|", 0), 0u) << out;
    EXPECT_NE(out.find("give --password - to read it from standard input"), std::string::npos)
        << out;
    EXPECT_NE(out.find("|refused|"), std::string::npos) << out;
    EXPECT_NE(out.find("give --device-password - to read it"), std::string::npos) << out;
}

}  // namespace
