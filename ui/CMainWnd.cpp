#include "ui/CMainWnd.h"

#include <array>
#include <cstdio>

#include "UiLib/CDelegate.h"
#include "UiLib/CDialogBuilder.h"
#include "UiLib/CTabLayoutUI.h"
#include "UiLib/UiLock.h"
#include "app/AppSettings.h"
#include "engine/BackupEngine.h"
#include "platform/Interrupt.h"
#include "platform/Strings.h"
#include "skin/layouts/ElementPhone.h"
#include "skin/layouts/skin.h"
#include "store/Catalogue.h"
#include "ui/CAssistMenu.h"
#include "ui/MainWndHooks.h"
#include "ui/UiMessages.h"
#include "ui/WindowSettings.h"

namespace tolvane {

using namespace UiLib;
using namespace std::chrono_literals;

namespace {

void Say(const char* line) {
    std::fputs(line, stdout);
    std::fflush(stdout);
}

// The card containers of the four tabs, in tab order.
std::array<CContainerUI*, 4> CardContainers(CPaintManagerUI& pm) {
    skin::SkinLayout ui(pm);
    return {ui.VLayoutPhone_0(), ui.VLayoutPhone_1(), ui.VLayoutPhone_2(), ui.VLayoutPhone_3()};
}

struct StateRow {
    const char* boxStyle;
    const wchar_t* text;
    const char* iconStyle;
    bool gif;
};

StateRow RowOf(int state) {
    switch (state) {
        case kConnectFailed:
            return {"Connecting", L"Connect Fail", "LblConnectError", false};
        case kConnected:
            return {"ConnectOK", L"Connected", "LblConnectOK", false};
        case kConnecting:
            return {"Connecting", L"Connecting...", "LblConnectInfo", true};
        default:
            return {"Connecting", L"Connect Device", "LblConnectInfo", false};
    }
}

}  // namespace

CMainWnd::CMainWnd()
    : engine_(std::make_unique<BackupEngine>()),
      timer_(this, &CMainWnd::OnConnectedTimer, kConnectPeriod) {
    // A close during an attempt that waits for the phone's sync lock (another program syncing
    // with it, up to 100 s) ends that wait, so the window closes within a moment.
    engine_->SetSyncLockStopCheck([this] { return closeAsked_.load() || closing_.load(); });
    home_.Attach(this);
    restore_.Attach(this);
    backup_.Attach(this);
    import_.Attach(this);
}

CMainWnd::~CMainWnd() {
    Shutdown();
    if (registered_) {
        RemoveVirtualWnd("VrtWndPanel");
        RemoveVirtualWnd("VrtWndRestore");
        RemoveVirtualWnd("VrtWndBackup");
        RemoveVirtualWnd("VrtWndImport");
    }
    // The engine closes the session and empties the work backup's device folder.
    engine_.reset();
}

void CMainWnd::Shutdown() {
    closing_ = true;
    {
        std::lock_guard lock(deviceLock_);
        timer_.Stop();
    }
    // Outside the device lock, which a tick in progress may be waiting for.
    timer_.Wait();
    if (connectThread_.joinable()) {
        connectThread_.join();
    }
}

// --- initialisation ------------------------------------------------------------------------

void CMainWnd::InitWindow() {
    {
        std::lock_guard lock(stringsLock_);
        defaultBackupRoot_ = platform::PathToWide(tolvane::DefaultBackupRoot());
        userBackupFolder_ = ReadUserFolder(WindowSettings().Config());
    }
    skin::SkinLayout ui(pm_);
    tabs_ = ui.TabMain();
    backHome_ = ui.BtnBackHome();
    ui.BtnBackHome()->Bind("click", CDelegate(this, &CMainWnd::OnBackHome));
    ui.BtnMenu()->Bind("click", CDelegate(this, &CMainWnd::OnMenu));
    ui.LblProductName()->SetText(L"Tolvane");

    AddVirtualWnd("VrtWndPanel", &home_);
    AddVirtualWnd("VrtWndRestore", &restore_);
    AddVirtualWnd("VrtWndBackup", &backup_);
    AddVirtualWnd("VrtWndImport", &import_);
    registered_ = true;
    RebuildPhoneCard(0);

    if (shadow_.Create(this, "PerryShadowWnd")) {
        shadow_.SetSize(4);
        shadow_.SetPosition(0, 0);
        shadow_.SetDarkness(120);
        shadow_.SetColor(45, 45, 45);
    }

    home_.Init();
    restore_.Init();
    backup_.Init();
    import_.Init();
}

void CMainWnd::HandleNotify(TNotifyUI& msg) {
    if (msg.sType == "windowinit") {
        OnWindowInit();
        return;
    }
    WindowImplBase::HandleNotify(msg);
}

void CMainWnd::OnWindowInit() {
    // The connect timer exists from construction; it starts after the first attempt.
    if (!connected_) {
        PostMessage(GetHWND(), UM_CONNECT);
    }
    if (!IsAppleSoftwareInstalled()) {
        ShowMissingServiceNotice(*this);
    }
}

// --- messages ------------------------------------------------------------------------------

LRESULT CMainWnd::HandleMessage(UINT msg, WPARAM wParam, LPARAM lParam) {
    switch (msg) {
        case UM_CONNECT:
            OnConnect();
            return 0;
        case UM_SETTINGS:
            OnSettings();
            return 0;
        case UM_OPEN_LINK:
            OnOpenLink(wParam);
            return 0;
        default:
            return WindowImplBase::HandleMessage(msg, wParam, lParam);
    }
}

LRESULT CMainWnd::MessageHandler(UINT msg, WPARAM wParam, LPARAM lParam, bool& handled) {
    // Enter and Escape do nothing in the main window.
    if (msg == WM_KEYDOWN && (wParam == VK_RETURN || wParam == VK_ESCAPE)) {
        handled = true;
        return 0;
    }
    return WindowImplBase::MessageHandler(msg, wParam, lParam, handled);
}

bool CMainWnd::QueryClose(UINT result, CloseOrigin origin) {
    // The same close asked again in half a second, without blocking the loop.
    const auto askAgain = [&] {
        PostDelayedMessage(GetHWND(), 500ms, WM_CLOSE, result,
                           origin == CloseOrigin::System ? LPARAM{CLOSE_FROM_SYSTEM} : LPARAM{0});
    };
    if (!IsInputEnabled()) {
        // A popup runs modally over the window (a run, a question): the window stays. Asked to
        // end from outside, the close is asked again until the popup is gone (a run stops by
        // itself then).
        if (platform::InterruptRequested()) {
            askAgain();
        }
        return false;
    }
    if (connectIdle_ == 0) {
        // A connection attempt runs: it is told to give up a wait for the phone, and the close
        // is asked again (the attempt's display changes are painted by this loop).
        closeAsked_ = true;
        askAgain();
        return false;
    }
    Shutdown();
    return true;
}

void CMainWnd::OnFinalMessage() {
    if (quitOnClose_) {
        PostQuitMessage(0);
    }
    if (deleteOnClose_) {
        delete this;
    }
}

// --- connection ----------------------------------------------------------------------------

void CMainWnd::OnConnect() {
    if (closing_ || connectIdle_ == 0) {
        return;  // an attempt runs (or the window is closing)
    }
    connectState_ = kConnecting;
    UpdateCard(currentTab_);
    connectIdle_ = 0;
    if (connectThread_.joinable()) {
        connectThread_.join();  // the previous attempt has ended: it only had to return
    }
    connectThread_ = std::thread([this] { ConnectWorker(); });
}

void CMainWnd::ConnectWorker() {
    StopConnectTimer();
    ConnectFlow();
    std::lock_guard lock(deviceLock_);
    if (!closing_) {
        timer_.Start(kConnectPeriod);
    }
    // Idle only once the timer runs again: whoever waits for the attempt's end finds the
    // timer going.
    connectIdle_ = 1;
}

void CMainWnd::StopConnectTimer() {
    timer_.Stop();
}

void CMainWnd::StartConnectTimer() {
    std::lock_guard lock(deviceLock_);
    if (!closing_) {
        timer_.Start(kConnectPeriod);
    }
}

void CMainWnd::ConnectFlow() {
    Say("ConnectingDevice\n");
    int32_t result = 0;
    uint8_t willEncrypt = 0;
    std::string name, deviceClass, version, error;
    {
        std::lock_guard lock(deviceLock_);
        engine_->CloseDevice();
        result = engine_->ConnectDevice(&willEncrypt);
        deviceEncrypted_ = willEncrypt != 0;
        if (engine_->GetDeviceName(name) != 0) {
            name.clear();
        }
        if (engine_->GetDeviceClass(deviceClass) != 0) {
            deviceClass.clear();
        }
        if (engine_->GetProductVersion(version) != 0) {
            version.clear();
        }
        error = engine_->GetLastErrorText();
    }
    {
        std::lock_guard lock(stringsLock_);
        deviceName_ = platform::AnsiToWide(name);
        deviceClass_ = platform::AnsiToWide(deviceClass);
        productVersion_ = platform::AnsiToWide(version);
    }
    if (result != 0) {
        connected_ = false;
        connectState_ = kConnectFailed;
        std::printf("error:%s\n", error.c_str());
        std::fflush(stdout);
    }
}

void CMainWnd::OnConnectedTimer() {
    Say("OnConnectedTimer\n");
    std::lock_guard lock(deviceLock_);
    if (!timer_.IsRunning()) {
        return;  // stopped while this tick waited for the lock (a run, an attempt, the close)
    }
    const bool present = engine_->IsDevicePresent();
    connected_ = present;
    if (!present) {
        PostMessage(GetHWND(), UM_CONNECT);
    }
    if (present) {
        connectState_ = kConnected;
        Say("connected!\n");
    } else if (connectState_ == kConnecting) {
        Say("connecting!\n");
    } else {
        connectState_ = kConnectFailed;
        Say("disconnected!\n");
    }
    UpdateCard(currentTab_);
    EnableModeButtons(present);
}

void CMainWnd::EnableModeButtons(bool enabled) {
    UiGuard guard;
    skin::SkinLayout ui(pm_);
    const std::array<CControlUI*, 7> buttons = {
        ui.BtnBackupPhone(), ui.BtnRestoreFromBackup(), ui.BtnRestoreFromiTunes(), ui.BtnImport(),
        ui.BtnCopyRestore(), ui.BtnCopyBackup(),        ui.BtnCopyImport()};
    for (CControlUI* c : buttons) {
        if (c != nullptr) {
            c->SetEnabled(enabled);
        }
    }
}

void CMainWnd::OnRetry(TNotifyUI&) {
    if (!connected_) {
        PostMessage(GetHWND(), UM_CONNECT);
    }
}

// --- phone card ----------------------------------------------------------------------------

void CMainWnd::RebuildPhoneCard(int tab) {
    const std::array<CContainerUI*, 4> boxes = CardContainers(pm_);
    {
        UiGuard guard;
        for (CContainerUI* box : boxes) {
            if (box != nullptr) {
                box->RemoveAll();
            }
        }
    }
    CContainerUI* container = boxes[static_cast<size_t>(tab)];
    CControlUI* card = CDialogBuilder(this).Create("xml\\ElementPhone.xml", &pm_);
    card_.Replace(container, card);
    if (card != nullptr) {
        if (CButtonUI* retry = skin::ElementPhoneLayout(card).BtnRetry()) {
            retry->Bind("click", CDelegate(this, &CMainWnd::OnRetry));
        }
    }
    UpdateCard(tab);
}

void CMainWnd::UpdateCard(int tab) {
    const StateRow row = RowOf(connectState_);
    const std::wstring label = PhoneLabel(tab);
    card_.WithParts<skin::ElementPhoneLayout>([&](skin::ElementPhoneLayout& c) {
        c.VLayoutPhoneStatus()->SetStyle(row.boxStyle);
        c.LblStatus()->SetStyle(row.iconStyle);
        c.LblStatus()->SetText(row.text);
        c.GifConnecting()->SetVisible(row.gif);
        c.BtnRetry()->SetVisible(false);
        c.LblPhoneName()->SetText(label);
    });
}

std::wstring CMainWnd::PhoneLabel(int tab) const {
    std::wstring label = tab == 2 ? L"Destination: " : L"Source: ";
    std::lock_guard lock(stringsLock_);
    if (!deviceName_.empty()) {
        label += deviceName_ + L"(" + deviceClass_ + L" " + productVersion_ + L")";
    }
    return label;
}

// --- tabs ----------------------------------------------------------------------------------

void CMainWnd::SelectTab(int tab) {
    currentTab_ = tab;
    if (tabs_ != nullptr) {
        tabs_->SelectItem(tab);
    }
}

void CMainWnd::GoHome() {
    SelectTab(0);
    RebuildPhoneCard(0);
    backHome_->SetVisible(false);
}

void CMainWnd::GoBackup() {
    SelectTab(1);
    RebuildPhoneCard(1);
    backHome_->SetVisible(true);
}

void CMainWnd::GoRestore(RestoreSource source) {
    SelectTab(2);
    RebuildPhoneCard(2);
    restore_.SetSource(source);
    restore_.RebuildBackupList();
    backHome_->SetVisible(true);
}

void CMainWnd::GoImport() {
    currentTab_ = 3;
    RebuildPhoneCard(3);
    skin::SkinLayout ui(pm_);
    ui.EditSMS()->SetText(L"");
    ui.EditContact()->SetText(L"");
    SelectTab(3);
    backHome_->SetVisible(true);
}

void CMainWnd::OnBackHome(TNotifyUI&) {
    GoHome();
}

void CMainWnd::OnMenu(TNotifyUI& msg) {
    CAssistMenu::Open(this, msg.pSender);
}

// --- settings and links --------------------------------------------------------------------

void CMainWnd::OnSettings() {
    OpenSettingsWindow(*this);
}

void CMainWnd::OnOpenLink(WPARAM page) {
    OpenLinkPage(*this, page);
}

UINT CMainWnd::AskDevicePassword() {
    return AskDevicePasswordWindow(*this);
}

int32_t CMainWnd::WithEngine(const std::function<int32_t(BackupEngine&)>& call) {
    EngineLease engine = LockEngine();
    return call(*engine);
}

// --- shared strings ------------------------------------------------------------------------

std::wstring CMainWnd::GetDefaultBackupRoot() const {
    std::lock_guard lock(stringsLock_);
    return defaultBackupRoot_;
}

std::wstring CMainWnd::GetUserBackupFolder() const {
    std::lock_guard lock(stringsLock_);
    return userBackupFolder_;
}

void CMainWnd::SetUserBackupFolder(const std::wstring& folder) {
    std::lock_guard lock(stringsLock_);
    userBackupFolder_ = folder;
}

std::wstring CMainWnd::BackupFolder() const {
    std::lock_guard lock(stringsLock_);
    return userBackupFolder_.empty() ? defaultBackupRoot_ : userBackupFolder_;
}

std::wstring CMainWnd::GetDevicePassword() const {
    std::lock_guard lock(stringsLock_);
    return devicePassword_;
}

void CMainWnd::SetDevicePassword(const std::wstring& password) {
    std::lock_guard lock(stringsLock_);
    devicePassword_ = password;
}

std::wstring CMainWnd::GetBackupPassword() const {
    std::lock_guard lock(stringsLock_);
    return backupPassword_;
}

void CMainWnd::SetBackupPassword(const std::wstring& password) {
    std::lock_guard lock(stringsLock_);
    backupPassword_ = password;
}

std::wstring CMainWnd::DeviceName() const {
    std::lock_guard lock(stringsLock_);
    return deviceName_;
}

}  // namespace tolvane
