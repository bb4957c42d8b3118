// What the dialog tests share: the product's skin in the offscreen host, a program folder of
// its own (config.ini and Languages/English.ini as shipped, the decryption tool beside them) with
// settings read from it, an isolated home, and a small main window that owns the popups.
#pragma once

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "UiLib/OffscreenHost.h"
#include "UiLib/WindowImplBase.h"
#include "app/AppSettings.h"
#include "tests/support/TestEnv.h"
#include "ui/IMainWnd.h"

namespace uitest {

// The main window as the popups see it: the real main layout, the shared strings and flags in
// plain fields, and an engine reached only through WithEngine, which checks that calls never
// overlap.
class TestMainWnd : public UiLib::WindowImplBase, public tolvane::IMainWnd {
  public:
    std::string GetSkinFile() override { return "xml\\skin.xml"; }
    std::string GetWindowClassName() const override { return "TolvaneTestWnd"; }

    UiLib::WindowImplBase* GetMainWindow() override { return this; }
    std::wstring GetDefaultBackupRoot() const override { return defaultBackupRoot; }
    std::wstring GetUserBackupFolder() const override { return userBackupFolder; }
    void SetUserBackupFolder(const std::wstring& folder) override { userBackupFolder = folder; }
    std::wstring GetDevicePassword() const override { return devicePassword; }
    void SetDevicePassword(const std::wstring& password) override { devicePassword = password; }
    std::wstring GetBackupPassword() const override { return backupPassword; }
    void SetBackupPassword(const std::wstring& password) override { backupPassword = password; }
    bool IsDeviceEncrypted() const override { return deviceEncrypted; }
    void SetDeviceEncrypted(bool encrypted) override { deviceEncrypted = encrypted; }
    int32_t WithEngine(const std::function<int32_t(tolvane::BackupEngine&)>& call) override;

    std::wstring defaultBackupRoot;
    std::wstring userBackupFolder;
    std::wstring devicePassword;
    std::wstring backupPassword;
    bool deviceEncrypted = false;
    tolvane::BackupEngine* engine = nullptr;  // null: WithEngine fails the test
    int engineCalls = 0;

  private:
    bool inEngine_ = false;
};

class DialogTest : public ::testing::Test {
  protected:
    DialogTest();
    ~DialogTest() override;

    // The program folder (ending in "/") and its config.ini.
    const std::string& ProgramFolder() const { return programFolder_; }
    std::string ConfigPath() const { return programFolder_ + "config.ini"; }
    // Replaces the language file and reads the settings again.
    void WriteLanguageFile(const std::string& contents);
    void ReloadSettings();
    // The main window, created and shown at 100,100 with its layout's size.
    TestMainWnd& Main();

    // Runs `steps` in turn, one each time a modal loop has nothing else to do; a step returns
    // false to wait for other threads. Fails the test when a modal run ends before all ran.
    // After the last step a modal run that goes on is a failure (and is closed), unless
    // `endsByItself`: a window that ends once its worker has (it is then given 60 s).
    void Script(std::vector<std::function<bool()>> steps, bool endsByItself = false);
    // The steps not run yet.
    size_t PendingSteps() const;

    testenv::IsolatedHome home_;
    testenv::TempDir program_{"tolvane-program"};
    UiLib::OffscreenHost host_;

  private:
    std::string programFolder_;
    std::unique_ptr<tolvane::AppSettings> settings_;
    std::unique_ptr<TestMainWnd> main_;
    std::vector<std::function<bool()>> steps_;
    size_t next_ = 0;
};

// The contents of a file of the shipped resources (app/resources/...).
std::string ShippedResource(const std::string& relative);

}  // namespace uitest
