#include "ui/CProgressWnd.h"

#include <cstdio>
#include <cwchar>
#include <iterator>

#include "UiLib/CDelegate.h"
#include "engine/BackupEngine.h"
#include "platform/Results.h"
#include "platform/Strings.h"
#include "ui/CMainWnd.h"
#include "ui/CMessageBox.h"
#include "ui/UiMessages.h"

namespace tolvane {

using namespace UiLib;

ProgressResult ToProgressResult(int32_t engineResult) {
    switch (engineResult) {
        case platform::kResultOk:
            return kProgressDone;
        case platform::kResultCancelled:
            return kProgressCancelled;
        case platform::kResultDeviceGone:
            return kProgressDeviceGone;
        default:
            return kProgressFailed;
    }
}

std::wstring DescribeBytes(uint64_t bytes) {
    wchar_t text[48];
    const double b = static_cast<double>(bytes);
    if (bytes >= 1000000000ull) {
        std::swprintf(text, std::size(text), L"%.1f GB", b / 1e9);
    } else if (bytes >= 1000000ull) {
        std::swprintf(text, std::size(text), L"%.1f MB", b / 1e6);
    } else if (bytes >= 1000ull) {
        std::swprintf(text, std::size(text), L"%.0f kB", b / 1e3);
    } else {
        std::swprintf(text, std::size(text), L"%llu bytes", static_cast<unsigned long long>(bytes));
    }
    return text;
}

std::wstring DescribeTimeLeft(int64_t seconds) {
    if (seconds < 10) {
        return L"almost done";
    }
    if (seconds < 55) {
        // In steps of five seconds: a count that changes every second cannot be read.
        return L"about " + std::to_wstring((seconds + 2) / 5 * 5) + L" s left";
    }
    const int64_t minutes = (seconds + 30) / 60;
    if (minutes < 60) {
        return L"about " + std::to_wstring(minutes) + L" min left";
    }
    std::wstring text = L"about " + std::to_wstring(minutes / 60) + L" h";
    if (minutes % 60 != 0) {
        text += L" " + std::to_wstring(minutes % 60) + L" min";
    }
    return text + L" left";
}

std::wstring DescribeProgressFigures(const ProgressDetails& details) {
    constexpr const wchar_t* kDot = L" \u00b7 ";
    std::wstring text;
    if (details.bytes > 0) {
        text = DescribeBytes(details.bytes) + kDot +
               DescribeBytes(static_cast<uint64_t>(details.bytesPerSecond)) + L"/s";
    }
    if (details.secondsLeft >= 0) {
        text += (text.empty() ? L"" : kDot) + DescribeTimeLeft(details.secondsLeft);
    }
    return text.empty() ? std::wstring(kFiguresEstimating) : text;
}

CProgressWnd::CProgressWnd(CMainWnd& main, std::string skinFile, std::string className)
    : CPopUpWnd(std::move(skinFile)),
      main_(main),
      className_(std::move(className)),
      shared_(std::make_shared<Shared>()) {
    shared_->window = this;
    SetMainWnd(&main);
}

CProgressWnd::~CProgressWnd() {
    // The start handler has joined the worker already; this is the last guard against a window
    // destroyed under a running worker.
    WaitForWorker();
}

void CProgressWnd::WaitForWorker() {
    if (worker_.joinable()) {
        worker_.join();
    }
}

int32_t CProgressWnd::CancelValue() const {
    return platform::kResultCancelled;
}

std::wstring CProgressWnd::CancelQuestion() const {
    return L"Are you sure you want to cancel copying?";
}

std::wstring CProgressWnd::RunErrorText() const {
    std::lock_guard lock(shared_->lock);
    return shared_->errorText;
}

int CProgressWnd::BarValue() const {
    int value = 0;
    shared_->bar.With([&](CProgressUI& bar) { value = bar.GetValue(); });
    return value;
}

std::wstring CProgressWnd::FiguresText() const {
    std::lock_guard lock(shared_->lock);
    return shared_->figuresText;
}

bool CProgressWnd::CancelRequested() const {
    std::lock_guard lock(shared_->lock);
    return shared_->cancelRequested;
}

bool CProgressWnd::CancelEnabled() const {
    std::lock_guard lock(shared_->lock);
    return shared_->cancelEnabled;
}

void CProgressWnd::SetCancelEnabledLocked(bool enabled) {
    shared_->cancelEnabled = enabled;
    for (const UiRef<CControlUI>* button : {&shared_->closeButton, &shared_->cancelButton}) {
        button->With([&](CControlUI& c) { c.SetEnabled(enabled); });
    }
}

void CProgressWnd::ResetBarLocked() {
    shared_->bar.With([](CProgressUI& bar) { bar.SetValue(0); });
    shared_->percent.With([](CLabelUI& label) { label.SetText(L"0%"); });
    shared_->figuresShown = false;
    SetFiguresLocked(kFiguresEstimating);
}

void CProgressWnd::SetFiguresLocked(const std::wstring& text) {
    if (text == shared_->figuresText) {
        return;  // the same text is not painted again
    }
    shared_->figuresText = text;
    shared_->figures.With([&](CLabelUI& label) { label.SetText(text); });
}

void CProgressWnd::SetTipsLocked(const std::wstring& text) {
    shared_->tips.With([&](CLabelUI& label) { label.SetText(text); });
}

void CProgressWnd::InitWindow() {
    CPopUpWnd::InitWindow();
    shared_->bar = UiRef<CProgressUI>(pm_.FindControl("progress"));
    shared_->percent = UiRef<CLabelUI>(pm_.FindControl("LblPercent"));
    shared_->tips = UiRef<CLabelUI>(pm_.FindControl("LblTips"));
    shared_->figures = UiRef<CLabelUI>(pm_.FindControl("LblFigures"));
    {
        std::lock_guard lock(shared_->lock);
        shared_->figuresText.clear();
        shared_->figuresShown = false;
        SetFiguresLocked(kFiguresEstimating);
    }
    shared_->closeButton = UiRef<CControlUI>(pm_.FindControl("closebtn"));
    shared_->cancelButton = UiRef<CControlUI>(pm_.FindControl("BtnCancel"));
    shared_->cancelValue = CancelValue();
    for (const char* name : {"closebtn", "BtnCancel"}) {
        if (CControlUI* c = pm_.FindControl(name)) {
            c->Bind("click", CDelegate(this, &CProgressWnd::OnCancelClick));
        }
    }
}

void CProgressWnd::OnWindowInit() {
    shared_->cancelRequested = false;
    shared_->cancelEnabled = true;
    shared_->workerDone = false;
    worker_ = std::thread([this] { Worker(); });
}

void CProgressWnd::Worker() {
    const bool connected = main_.Connected();
    const bool encrypted = main_.IsDeviceEncrypted();
    // A phone that is gone before the run starts ends the run as a lost phone, not as "done".
    int32_t result = platform::kResultDeviceGone;
    std::string errorText;
    {
        CMainWnd::EngineLease engine = main_.LockEngine();
        engine->SetProgressCallback(&CProgressWnd::ProgressCallbackOf);
        engine->SetDetailedProgressCallback(&CProgressWnd::FiguresCallbackOf);
        engine->SetOperationWaitCallback(&CProgressWnd::WaitCallbackOf);
        engine->SetCallbackUserData(shared_.get());
        engine->SetProgressScale(100);
        engine->SetCategories(Categories());
        if (connected) {
            result = RunOperation(*engine, encrypted);
            errorText = engine->GetLastErrorText();
        }
        engine->SetProgressCallback(nullptr);
        engine->SetDetailedProgressCallback(nullptr);
        engine->SetOperationWaitCallback(nullptr);
        engine->SetCallbackUserData(nullptr);
    }
    {
        std::lock_guard lock(shared_->lock);
        shared_->errorText = platform::AnsiToWide(errorText);
    }
    main_.ConnectFlow();
    {
        // The run is over: a phase that had taken the cancel away gives the buttons back.
        std::lock_guard lock(shared_->lock);
        SetCancelEnabledLocked(true);
    }
    AfterRun();
    const ProgressResult r = ResultOf(result);
    shared_->workerDone = true;
    PostMessage(GetHWND(), WM_CLOSE, r);
}

int32_t CProgressWnd::ProgressCallbackOf(void* userData, int32_t nProcess, int32_t bIsBackup) {
    auto* shared = static_cast<Shared*>(userData);
    return shared != nullptr ? shared->window->OnProgress(nProcess, bIsBackup != 0) : 0;
}

int32_t CProgressWnd::OnProgress(int32_t nProcess, bool isBackup) {
    std::printf("nProcess:%d\n", nProcess);
    std::fflush(stdout);
    const std::wstring text = std::to_wstring(nProcess) + L"%";
    std::lock_guard lock(shared_->lock);
    if (shared_->cancelRequested) {
        return shared_->cancelValue;
    }
    OnPhase(isBackup);
    shared_->bar.With([&](CProgressUI& bar) {
        if (nProcess >= bar.GetValue()) {
            bar.SetValue(nProcess);
            shared_->percent.With([&](CLabelUI& label) { label.SetText(text); });
        }
    });
    return 0;
}

int32_t CProgressWnd::FiguresCallbackOf(void* userData, const ProgressDetails& details, int32_t) {
    auto* shared = static_cast<Shared*>(userData);
    return shared != nullptr ? shared->window->OnFigures(details) : 0;
}

int32_t CProgressWnd::WaitCallbackOf(void* userData, OperationWait state) {
    auto* shared = static_cast<Shared*>(userData);
    return shared != nullptr ? shared->window->OnOperationWait(state) : 0;
}

int32_t CProgressWnd::OnFigures(const ProgressDetails& details) {
    // The figures change with every message of the phone; shown as often, the speed and the
    // time left could not be read. The first figures show at once, later ones twice a second.
    constexpr auto kFiguresInterval = std::chrono::milliseconds(500);
    const std::wstring text = DescribeProgressFigures(details);
    const auto now = std::chrono::steady_clock::now();
    std::lock_guard lock(shared_->lock);
    if (shared_->cancelRequested) {
        return shared_->cancelValue;
    }
    if (shared_->figuresShown && now - shared_->figuresShownAt < kFiguresInterval) {
        return 0;
    }
    shared_->figuresShown = true;
    shared_->figuresShownAt = now;
    SetFiguresLocked(text);
    return 0;
}

int32_t CProgressWnd::OnOperationWait(OperationWait state) {
    std::lock_guard lock(shared_->lock);
    if (state == OperationWait::Ends) {
        shared_->figuresShown = false;
        SetFiguresLocked(kFiguresEstimating);
        return 0;
    }
    if (shared_->cancelRequested) {
        return shared_->cancelValue;  // the user gave the wait up
    }
    SetFiguresLocked(kFiguresWaiting);
    return 0;
}

bool CProgressWnd::OnCancelClick(TNotifyUI&) {
    AskCancel();
    return true;  // the window ends with the worker's result, not with the click
}

void CProgressWnd::AskCancel() {
    if (questionOpen_ || shared_->workerDone) {
        return;
    }
    // While the question is open the progress lock is held: the next progress report waits in
    // the callback, so the run is paused until the user answers.
    std::unique_lock lock(shared_->lock);
    if (shared_->cancelRequested || !shared_->cancelEnabled) {
        return;  // confirmed already, or the phase in which the run may not be stopped
    }
    questionOpen_ = true;
    ShowWindow(false);
    const UINT answer =
        CMessageBox::Show(CMessageBox::Question, this, L"Question", CancelQuestion(), 500, 220);
    if (answer == IDOK) {
        // The window stays hidden; the worker's close ends it, normally with 2.
        shared_->cancelRequested = true;
    } else {
        ShowWindow(true);
    }
    lock.unlock();
    questionOpen_ = false;
    if (pendingClose_) {
        // The run ended while the question was open.
        Close(*pendingClose_);
        pendingClose_.reset();
    }
}

bool CProgressWnd::QueryClose(UINT result, CloseOrigin origin) {
    if (origin == CloseOrigin::System) {
        // Alt+F4 or the taskbar: the same as the cancel button.
        if (!shared_->workerDone) {
            PostMessage(GetHWND(), UM_ASK_CANCEL);
        }
        return false;
    }
    if (!shared_->workerDone) {
        return false;  // only the worker's result ends the window
    }
    if (questionOpen_) {
        pendingClose_ = result;
        return false;
    }
    return true;
}

LRESULT CProgressWnd::HandleMessage(UINT msg, WPARAM wParam, LPARAM lParam) {
    if (msg == UM_ASK_CANCEL) {
        AskCancel();
        return 0;
    }
    return CPopUpWnd::HandleMessage(msg, wParam, lParam);
}

// --- the start handler's part --------------------------------------------------------------

void ShowRunOutcome(WindowImplBase& owner, UINT result, const std::wstring& errorText,
                    const RunTexts& texts) {
    std::wstring text;
    switch (result) {
        case kProgressDone:
            text = texts.done;
            break;
        case kProgressFailed:
            text = !errorText.empty() ? errorText : texts.failed;
            break;
        case kProgressDeviceGone:
            text = !errorText.empty() ? errorText : L"Sorry, the iphone is disconnected!";
            break;
        default:
            return;  // cancelled: nothing to say
    }
    CMessageBox::Show(CMessageBox::Information, &owner, L"Information", text, 500, 220);
}

UINT RunProgressWindow(CMainWnd& main, CProgressWnd& window, int width, int height,
                       const RunTexts& texts, const std::function<void()>& onDone) {
    main.StopConnectTimer();
    UINT result = kProgressFailed;
    if (window.Create(&main, width, height) != 0) {
        result = window.ShowModal();
    }
    window.WaitForWorker();
    RunTexts shown = texts;
    if (const std::wstring detail = window.DoneDetail(); !detail.empty()) {
        shown.done += L"\n" + detail;
    }
    ShowRunOutcome(main, result, window.RunErrorText(), shown);
    if (result == kProgressDone && onDone) {
        onDone();
    }
    main.StartConnectTimer();
    return result;
}

}  // namespace tolvane
