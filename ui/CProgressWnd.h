// The road every run of the application takes (backup, restore, import), in one piece:
//
//   start handler (RunProgressWindow)   stops the connect timer, creates the progress window
//                                       owned by the main window, runs it modally, shows the
//                                       result box, starts the timer again;
//   progress window (CProgressWnd)      on "windowinit" starts the worker; its cancel buttons ask
//                                       the cancel question; it ends only with the worker's result;
//   worker                              sets the engine up, runs the operation under the device
//                                       lock, reconnects (the main window's connect flow), posts
//                                       WM_CLOSE with the ProgressResult;
//   progress callback                   moves the bar (never back) and stops the run once the
//                                       cancel is confirmed;
//   figures callback                    sets the line under the bar ("LblFigures": bytes, speed,
//                                       time left), at most twice a second so that it can be read;
//   wait callback                       while the run waits for another operation of the program
//                                       (tolvanectl or a second window program), says so on that
//                                       line; a confirmed cancel gives the wait up.
//
// The kinds differ only in what they override: the operation, the value the callback returns for
// a cancel (the import's -10), the phase handling and the texts.
//
// Lifetime: the state the worker and the engine's callback use (the progress lock, the cancel
// flag, the references to the bar and the label) is shared with the worker, so it outlives the
// window whatever the order of cancel, finish and close; the window refuses every close but the
// worker's own, and the start handler joins the worker before the window is destroyed.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

#include "UiLib/CLabelUI.h"
#include "UiLib/CProgressUI.h"
#include "UiLib/UiRef.h"
#include "engine/RunContext.h"
#include "ui/CPopUpWnd.h"

namespace tolvane {

class BackupEngine;
class CMainWnd;

// The value with which a progress window's modal run ends.
enum ProgressResult : UiLib::UINT {
    kProgressDone = 1,
    kProgressCancelled = 2,
    kProgressFailed = 3,
    kProgressDeviceGone = 8,
};

// 0 -> 1, 2 -> 2, -1 -> 8, anything else -> 3.
ProgressResult ToProgressResult(int32_t engineResult);

// The line under the bar before the first figures, and while the run waits for the lock.
inline constexpr const wchar_t* kFiguresEstimating = L"Estimating\u2026";
inline constexpr const wchar_t* kFiguresWaiting =
    L"Waiting for another Tolvane operation to finish\u2026";

// "1.2 GB", "18.4 MB", "830 kB", "512 bytes" (powers of ten, as the link's speed is counted).
std::wstring DescribeBytes(uint64_t bytes);
// "almost done", "about 45 s left", "about 2 min left", "about 1 h 5 min left".
std::wstring DescribeTimeLeft(int64_t seconds);
// The line under the bar: "1.2 GB · 18.4 MB/s · about 2 min left"; the bytes and the speed only
// once something has crossed the link (a restore sends, so it shows the time left alone), the
// time left once it can be told, kFiguresEstimating while nothing is known.
std::wstring DescribeProgressFigures(const ProgressDetails& details);

class CProgressWnd : public CPopUpWnd {
  public:
    CProgressWnd(CMainWnd& main, std::string skinFile, std::string className);
    ~CProgressWnd() override;

    std::string GetWindowClassName() const override { return className_; }

    // Waits until the worker has ended (the start handler, after the modal run).
    void WaitForWorker();
    // The phone's error text of the run, taken right after it (empty when there was none).
    std::wstring RunErrorText() const;
    // The bar's value as the callback last set it.
    int BarValue() const;
    // The line under the bar as the callbacks last set it.
    std::wstring FiguresText() const;
    bool CancelRequested() const;
    bool WorkerDone() const { return shared_->workerDone.load(); }
    bool QuestionOpen() const { return questionOpen_; }
    // Whether the run may still be cancelled (its cancel buttons are enabled).
    bool CancelEnabled() const;
    // What the done box adds below the kind's done text (after the worker has ended).
    virtual std::wstring DoneDetail() const { return {}; }

    // The engine's progress callback (user data: the window's shared state).
    static int32_t ProgressCallbackOf(void* userData, int32_t nProcess, int32_t bIsBackup);
    // The engine's figures and wait callbacks (the same user data).
    static int32_t FiguresCallbackOf(void* userData, const ProgressDetails& details,
                                     int32_t bIsBackup);
    static int32_t WaitCallbackOf(void* userData, OperationWait state);

  protected:
    // --- what a kind provides --------------------------------------------------------------
    // The categories word the engine is set up with.
    virtual uint32_t Categories() const = 0;
    // The run, on the worker thread with the device lock held; the engine's result.
    virtual int32_t RunOperation(BackupEngine& engine, bool deviceEncrypted) = 0;
    // What the callback returns once the user has confirmed the cancel.
    virtual int32_t CancelValue() const;
    // The ProgressResult of the engine's result (ToProgressResult unless a kind knows better).
    virtual ProgressResult ResultOf(int32_t engineResult) const {
        return ToProgressResult(engineResult);
    }
    // Under the progress lock on the worker thread, before the bar: a kind's phase changes.
    virtual void OnPhase(bool isBackup) { (void)isBackup; }
    // On the worker thread after the connect flow, before the close is posted.
    virtual void AfterRun() {}
    virtual std::wstring CancelQuestion() const;

    // --- what a kind's OnPhase may do (worker thread, progress lock held) ---------------------
    // Enables or disables "BtnCancel" and "closebtn"; while they are disabled the window
    // manager's close is refused too, without the question. The worker enables them again once
    // the run has ended.
    void SetCancelEnabledLocked(bool enabled);
    // Sets the bar and "LblPercent" back to 0 and the figures line back to kFiguresEstimating
    // (a new phase starts counting from the beginning).
    void ResetBarLocked();
    // Sets the "LblTips" line of the window, when it has one.
    void SetTipsLocked(const std::wstring& text);

    void OnWindowInit() override;
    void InitWindow() override;
    bool QueryClose(UiLib::UINT result, UiLib::CloseOrigin origin) override;
    UiLib::LRESULT HandleMessage(UiLib::UINT msg, UiLib::WPARAM wParam,
                                 UiLib::LPARAM lParam) override;

    CMainWnd& Main() const { return main_; }

    // Shared with the worker and the engine's callback.
    struct Shared {
        std::mutex lock;  // the progress lock: guards cancelRequested, the bar and the label
        bool cancelRequested = false;
        std::atomic<bool> workerDone{false};
        UiLib::UiRef<UiLib::CProgressUI> bar;
        UiLib::UiRef<UiLib::CLabelUI> percent;
        UiLib::UiRef<UiLib::CLabelUI> tips;
        UiLib::UiRef<UiLib::CLabelUI> figures;
        std::wstring figuresText;  // what the figures line shows
        // When the line last showed figures (none yet while figuresShown is false).
        bool figuresShown = false;
        std::chrono::steady_clock::time_point figuresShownAt;
        UiLib::UiRef<UiLib::CControlUI> closeButton;
        UiLib::UiRef<UiLib::CControlUI> cancelButton;
        bool cancelEnabled = true;       // false while the run may not be stopped
        CProgressWnd* window = nullptr;  // valid until the worker has been joined
        int32_t cancelValue = 2;
        std::wstring errorText;  // written by the worker before workerDone
    };
    Shared& State() const { return *shared_; }

  private:
    int32_t OnProgress(int32_t nProcess, bool isBackup);
    int32_t OnFigures(const ProgressDetails& details);
    int32_t OnOperationWait(OperationWait state);
    void SetFiguresLocked(const std::wstring& text);
    void Worker();
    bool OnCancelClick(UiLib::TNotifyUI& msg);
    void AskCancel();

    CMainWnd& main_;
    std::string className_;
    std::shared_ptr<Shared> shared_;
    std::thread worker_;
    bool questionOpen_ = false;
    std::optional<UiLib::UINT> pendingClose_;
};

// What the start handler says about a run's result.
struct RunTexts {
    std::wstring done;    // result 1
    std::wstring failed;  // result 3 without an error text of the phone
};

// The start handler's part of every run: stops the connect timer, creates `window` owned by the
// main window (width x height, centred), runs it modally and waits for its worker; shows the
// result box (1: done, with the window's DoneDetail on the lines below, 3: the phone's error text
// or the failure text, 8: the phone's text or "Sorry, the iphone is disconnected!", 2: nothing),
// calls `onDone` for 1, and starts the connect timer again. Returns the ProgressResult.
UiLib::UINT RunProgressWindow(CMainWnd& main, CProgressWnd& window, int width, int height,
                              const RunTexts& texts, const std::function<void()>& onDone = {});

// The result box of a run (kind Information, title "Information", 500 x 220).
void ShowRunOutcome(UiLib::WindowImplBase& owner, UiLib::UINT result, const std::wstring& errorText,
                    const RunTexts& texts);

}  // namespace tolvane
