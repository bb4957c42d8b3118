#include "tests/ui/DialogsSupport.h"

#include <chrono>
#include <optional>

#include <unistd.h>

#include "UiLib/ResourceArchive.h"
#include "platform/Folders.h"
#include "platform/Strings.h"
#include "skin/Skin.h"
#include "ui/WindowSettings.h"

namespace uitest {

int32_t TestMainWnd::WithEngine(const std::function<int32_t(tolvane::BackupEngine&)>& call) {
    EXPECT_FALSE(inEngine_) << "two engine calls at once";
    if (engine == nullptr) {
        ADD_FAILURE() << "the engine was used without one";
        return -1;
    }
    ++engineCalls;
    inEngine_ = true;
    const int32_t result = call(*engine);
    inEngine_ = false;
    return result;
}

std::string ShippedResource(const std::string& relative) {
    return testenv::ReadFile(std::string(TOLVANE_SOURCE_DIR) + "/app/resources/" + relative);
}

DialogTest::DialogTest() : programFolder_(program_.Path() + "/") {
    tolvane::skin::RegisterSkin();
    EXPECT_TRUE(UiLib::CResourceArchive::UseResource(tolvane::skin::kResourceId,
                                                     tolvane::skin::kResourceType));
    testenv::WriteFile(ConfigPath(), ShippedResource("config.ini"));
    testenv::WriteFile(programFolder_ + "Languages/English.ini",
                       ShippedResource("Languages/English.ini"));
    // The decryption tool is found beside the program.
    const std::string tool = std::string(TOLVANE_BIN_DIR) + "/tool";
    EXPECT_EQ(symlink(tool.c_str(), (programFolder_ + "tool").c_str()), 0);
    platform::SetProgramFolderForTesting(programFolder_);
    ReloadSettings();
    host_.SetModalTimeout(std::chrono::milliseconds(60000));
}

DialogTest::~DialogTest() {
    host_.SetIdleHandler(nullptr);
    main_.reset();
    tolvane::SetWindowSettingsForTesting(nullptr);
    platform::SetProgramFolderForTesting("");
}

void DialogTest::WriteLanguageFile(const std::string& contents) {
    testenv::WriteFile(programFolder_ + "Languages/English.ini", contents);
    ReloadSettings();
}

void DialogTest::ReloadSettings() {
    auto settings = std::make_unique<tolvane::AppSettings>(programFolder_);
    tolvane::SetWindowSettingsForTesting(settings.get());
    settings_ = std::move(settings);
}

TestMainWnd& DialogTest::Main() {
    if (!main_) {
        main_ = std::make_unique<TestMainWnd>();
        main_->Create(nullptr, "Tolvane", 100, 100, 0, 0);
        main_->ShowWindow();
        main_->defaultBackupRoot =
            platform::PathToWide(home_.Home() + "/Documents/TolvaneiPhoneBackup");
        host_.PumpMessages();
    }
    return *main_;
}

void DialogTest::Script(std::vector<std::function<bool()>> steps, bool endsByItself) {
    steps_ = std::move(steps);
    next_ = 0;
    std::optional<std::chrono::steady_clock::time_point> lastDone;
    host_.SetIdleHandler([this, endsByItself, lastDone]() mutable {
        if (next_ >= steps_.size() && endsByItself) {
            const auto now = std::chrono::steady_clock::now();
            if (!lastDone) {
                lastDone = now;
            }
            if (now - *lastDone < std::chrono::seconds(60)) {
                return false;
            }
        }
        if (next_ >= steps_.size()) {
            // Nothing more to do: a modal run that still waits would wait for ever.
            ADD_FAILURE() << "a modal run is still waiting after the last step";
            if (UiLib::WindowImplBase* modal = UiLib::WindowImplBase::TopModal()) {
                modal->Close(UiLib::IDCANCEL);
            }
            return true;
        }
        // A step may open a modal run of its own, whose loop runs the next steps: advance first.
        const size_t index = next_++;
        if (!steps_[index]()) {
            if (next_ == index + 1) {
                next_ = index;  // wait for other threads, then try this step again
            }
            return false;
        }
        return true;
    });
}

size_t DialogTest::PendingSteps() const {
    return steps_.size() - next_;
}

}  // namespace uitest
