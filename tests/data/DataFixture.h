// The fixture of the data tests: an isolated home (the merges write their temporary copies into
// its application-data folder), a scratch folder, an engine for the last error text, and
// real-schema target databases.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <string_view>
#include <vector>

#include "engine/BackupEngine.h"
#include "platform/Files.h"
#include "platform/Folders.h"
#include "tests/support/TestEnv.h"
#include "tests/tools/RealSchemaDb.h"

namespace testdata {

class DataFixture : public ::testing::Test {
  protected:
    std::string Path(std::string_view name) const { return dir_ / name; }

    std::string Write(std::string_view name, std::string_view content) const {
        const std::string path = Path(name);
        testenv::WriteFile(path, content);
        return path;
    }

    // A message database with correspondents 1..handles (handle, chat, join) and no messages.
    std::string MakeSmsTarget(std::string_view name, int handles) const {
        const std::string path = Path(name);
        EXPECT_TRUE(testkit::CreateSmsDb(path));
        testkit::Database db(path);
        for (int h = 1; h <= handles; ++h) {
            EXPECT_TRUE(testkit::AddCorrespondent(db, {h, "+1555000000" + std::to_string(h)}));
        }
        return path;
    }

    std::string MakeContactsTarget(std::string_view name) const {
        const std::string path = Path(name);
        EXPECT_TRUE(testkit::CreateAddressBookDb(path));
        return path;
    }

    // Whatever a merge leaves in the program's data folder (it should leave nothing).
    std::vector<std::string> LeftInDataFolder() const {
        std::vector<platform::DirEntry> entries;
        platform::ListFolder(platform::JoinPath(platform::AppDataFolder(), "Tolvane"), entries);
        std::vector<std::string> names;
        for (const auto& e : entries) {
            names.push_back(e.name);
        }
        return names;
    }

    testenv::IsolatedHome home_;
    testenv::TempDir dir_{"tolvane-data"};
    tolvane::BackupEngine engine_;
};

}  // namespace testdata
