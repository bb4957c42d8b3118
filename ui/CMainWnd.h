// The application's one top-level window: owns the engine, polls the phone every two seconds,
// shows the phone card, switches between the four tab panels and carries out the assist menu.
//
// Threads. The user interface thread runs the window; the connect timer's thread runs
// OnConnectedTimer; a connect worker runs each connection attempt; the run workers of the
// progress windows run one operation and then the connect flow. None but the user interface
// thread calls into the windowing system: control changes from other threads go through the
// framework's locked path (the phone card through a CSubtreeSlot) and are painted on the user
// interface thread.
//
// The engine has no lock of its own: every use of it holds the device lock (the timer's check,
// the connect flow, a run, the password check of the user interface thread through LockEngine).
// Lock order: the device lock, then the progress locks, then the framework's lock.
#pragma once

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "UiLib/CSubtreeSlot.h"
#include "UiLib/CTabLayoutUI.h"
#include "UiLib/CWndShadow.h"
#include "UiLib/TDuiTimer.h"
#include "UiLib/WindowImplBase.h"
#include "ui/CVrtWndBackup.h"
#include "ui/CVrtWndImport.h"
#include "ui/CVrtWndPanel.h"
#include "ui/CVrtWndRestore.h"
#include "ui/IMainWnd.h"

namespace tolvane {
class BackupEngine;
}

namespace tolvane {

// ConnectState values.
enum ConnectStateValue : int {
    kConnectFailed = 0,
    kConnected = 1,
    kConnecting = 2,
    kNotTried = 3,
};

inline constexpr std::chrono::milliseconds kConnectPeriod{2000};

class CMainWnd : public UiLib::WindowImplBase, public IMainWnd {
  public:
    CMainWnd();
    ~CMainWnd() override;

    std::string GetSkinFile() override { return "xml\\skin.xml"; }
    std::string GetWindowClassName() const override { return "TolvaneWnd"; }

    // When the window is gone it posts the quit message (exit code 0) and deletes itself; tests
    // that own the window turn either off.
    void SetQuitOnClose(bool quit) { quitOnClose_ = quit; }
    void SetDeleteOnClose(bool del) { deleteOnClose_ = del; }

    // --- tabs (user interface thread) ----------------------------------------------------
    void GoHome();
    void GoBackup();
    void GoRestore(RestoreSource source);
    void GoImport();
    int CurrentTab() const { return currentTab_.load(); }

    // --- connection ----------------------------------------------------------------------
    void StopConnectTimer();
    void StartConnectTimer();
    // Closes and reconnects the session and reads the phone's values (any thread but the user
    // interface thread; takes the device lock).
    void ConnectFlow();
    bool Connected() const { return connected_.load(); }
    bool IsDeviceEncrypted() const override { return deviceEncrypted_.load(); }
    void SetDeviceEncrypted(bool encrypted) override { deviceEncrypted_ = encrypted; }
    int ConnectState() const { return connectState_.load(); }
    bool ConnectIdle() const { return connectIdle_.load() != 0; }
    UiLib::TDuiTimer<CMainWnd>& ConnectTimer() { return timer_; }

    // The engine, held under the device lock for as long as the lease lives. Every engine call
    // made outside a run worker's run goes through one (the password window's unlock).
    class EngineLease {
      public:
        EngineLease(std::mutex& lock, BackupEngine& engine) : lock_(lock), engine_(&engine) {}
        BackupEngine* operator->() const { return engine_; }
        BackupEngine& operator*() const { return *engine_; }

      private:
        std::unique_lock<std::mutex> lock_;
        BackupEngine* engine_;
    };
    EngineLease LockEngine() { return EngineLease(deviceLock_, *engine_); }
    // Runs `call` with the engine under the device lock (the popups' engine calls).
    int32_t WithEngine(const std::function<int32_t(BackupEngine&)>& call) override;
    UiLib::WindowImplBase* GetMainWindow() override { return this; }

    // --- shared strings (any thread) -------------------------------------------------------
    std::wstring GetDefaultBackupRoot() const override;
    std::wstring GetUserBackupFolder() const override;
    void SetUserBackupFolder(const std::wstring& folder) override;
    // Where backups go: the configured folder, else the default root.
    std::wstring BackupFolder() const;
    std::wstring GetDevicePassword() const override;
    void SetDevicePassword(const std::wstring& password) override;
    std::wstring GetBackupPassword() const override;
    void SetBackupPassword(const std::wstring& password) override;
    std::wstring DeviceName() const;
    // "Source: " or "Destination: " with the phone's name, class and version.
    std::wstring PhoneLabel(int tab) const;

    // The password window for the phone's own backup password, 500 x 240: 1 when the phone was
    // unlocked (DevicePassword then holds the password), 2 when the user gave up.
    UiLib::UINT AskDevicePassword();

    CVrtWndPanel& HomePanel() { return home_; }
    CVrtWndBackup& BackupPanel() { return backup_; }
    CVrtWndRestore& RestorePanel() { return restore_; }
    CVrtWndImport& ImportPanel() { return import_; }

    UiLib::LRESULT HandleMessage(UiLib::UINT msg, UiLib::WPARAM wParam,
                                 UiLib::LPARAM lParam) override;
    UiLib::LRESULT MessageHandler(UiLib::UINT msg, UiLib::WPARAM wParam, UiLib::LPARAM lParam,
                                  bool& handled) override;

  protected:
    void InitWindow() override;
    void HandleNotify(UiLib::TNotifyUI& msg) override;
    bool QueryClose(UiLib::UINT result, UiLib::CloseOrigin origin) override;
    void OnFinalMessage() override;

  private:
    void OnWindowInit();
    void OnConnect();
    void ConnectWorker();
    void OnConnectedTimer();
    void OnBackHome(UiLib::TNotifyUI& msg);
    void OnMenu(UiLib::TNotifyUI& msg);
    void OnRetry(UiLib::TNotifyUI& msg);
    void OnSettings();
    void OnOpenLink(UiLib::WPARAM page);
    // Empties the four card containers, builds a new card into the one of `tab`.
    void RebuildPhoneCard(int tab);
    // Applies ConnectState and the phone's label to the card (any thread).
    void UpdateCard(int tab);
    // The home buttons and the three start buttons follow `connected` (any thread).
    void EnableModeButtons(bool enabled);
    void SelectTab(int tab);
    // Stops the timer and waits for the attempt and the tick in progress (window closing).
    void Shutdown();

    UiLib::CWndShadow shadow_;
    CVrtWndPanel home_;
    CVrtWndRestore restore_;
    CVrtWndBackup backup_;
    CVrtWndImport import_;

    std::unique_ptr<BackupEngine> engine_;
    mutable std::mutex deviceLock_;
    UiLib::TDuiTimer<CMainWnd> timer_;
    std::thread connectThread_;

    UiLib::CSubtreeSlot card_;
    UiLib::CTabLayoutUI* tabs_ = nullptr;
    UiLib::CControlUI* backHome_ = nullptr;

    std::atomic<bool> connected_{false};
    std::atomic<bool> deviceEncrypted_{false};
    std::atomic<int> connectState_{kNotTried};
    std::atomic<int> connectIdle_{1};
    std::atomic<int> currentTab_{0};
    std::atomic<bool> closing_{false};
    std::atomic<bool> closeAsked_{false};  // a close waits for the running attempt
    bool quitOnClose_ = true;
    bool deleteOnClose_ = true;
    bool registered_ = false;

    mutable std::mutex stringsLock_;
    std::wstring defaultBackupRoot_;
    std::wstring userBackupFolder_;
    std::wstring deviceName_, deviceClass_, productVersion_;
    std::wstring devicePassword_;
    std::wstring backupPassword_;
};

}  // namespace tolvane
