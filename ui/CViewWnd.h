// The viewer: lists the messages or the contacts of the restore tab's selected backup again on
// a worker thread (which also rewrites the tab's counts), shows "Loading..." meanwhile, and
// then the lines: each message with its local date and time, whether it was sent or received
// and the correspondent, then its words; each contact with its name and all its phone numbers.
// A backup without any shows the single line "Sorry, No data found!".
//
// The list holds one row control per visible line only (CViewRowsUI): a backup of 100,000
// messages costs the lines' text, not 100,000 controls.
//
// Lifetime: OK and the close button are disabled until the listing has ended, and a close from
// the window manager during it is held back until then; the window joins its worker before it
// goes, so nothing the worker uses is destroyed under it. While the listing of an encrypted
// backup waits for another operation of the program (another window's run, a tolvanectl), the
// window says so and its close button gives the wait up; the window then closes at once.
#pragma once

#include <atomic>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "UiLib/CContainerUI.h"
#include "data/Listing.h"
#include "engine/RunContext.h"
#include "ui/CPopUpWnd.h"

namespace tolvane {

class CMainWnd;
class CVrtWndRestore;

// Posted by the viewer's worker when the lines are ready.
inline constexpr UiLib::UINT UM_VIEW_READY = 2024;
// Posted by the viewer's worker when the listing begins (wParam 1) or ends (0) a wait for
// another operation of the program.
inline constexpr UiLib::UINT UM_VIEW_WAITING = 2025;

// The display line of a message: "2015-03-04 10:05  Received from +4915112345678: words"
// (the date in local time; parts the database does not know are left out).
std::wstring FormatMessageLine(const MessageDetail& message);
// The display line of a contact: the name, then its phone numbers separated by ", ".
std::wstring FormatContactLine(const ContactDetail& contact);

// Rows on demand: as tall as all its lines, it places row controls (built from
// "xml\\ElementView.xml") only where its parent shows it, and gives them the lines' texts.
class CViewRowsUI : public UiLib::CContainerUI {
  public:
    static constexpr int kRowHeight = 30;
    // `pool` rows are built at once; enough for the tallest list a screen can show.
    CViewRowsUI(std::shared_ptr<const std::vector<std::wstring>> lines, int pool = 80);
    std::string GetClass() const override { return "ViewRowsUI"; }

    size_t LineCount() const { return lines_->size(); }
    // The line shown in row control `row` (counted from the first built), or -1 when it shows
    // none.
    int LineOfRow(int row) const;
    void SetPos(const UiLib::Rect& rc) override;

  private:
    std::shared_ptr<const std::vector<std::wstring>> lines_;
    std::vector<int> shown_;  // the line of each row control, -1 for none
};

class CViewWnd : public CPopUpWnd {
  public:
    enum Kind { kMessages, kContacts };

    // Views entry `entryIndex` of `panel`'s list.
    CViewWnd(CMainWnd& main, CVrtWndRestore& panel, int entryIndex, Kind kind);
    ~CViewWnd() override;

    std::string GetWindowClassName() const override { return "UIViewWnd"; }

    void WaitForWorker();
    bool WorkerDone() const { return done_.load(); }
    // The lines the viewer shows (empty before the listing has ended).
    std::vector<std::wstring> Lines() const;
    // The result of the listing of the kind shown (0 when it succeeded).
    int32_t ListingResult() const { return listingResult_.load(); }

  protected:
    void InitWindow() override;
    void OnWindowInit() override;
    bool QueryClose(UiLib::UINT result, UiLib::CloseOrigin origin) override;
    UiLib::LRESULT HandleMessage(UiLib::UINT msg, UiLib::WPARAM wParam,
                                 UiLib::LPARAM lParam) override;

  private:
    void Worker();
    void ShowLines();
    bool OnOk(UiLib::TNotifyUI& msg);
    bool OnCloseButton(UiLib::TNotifyUI& msg);
    void CloseWhenDone(UiLib::UINT result);
    // Keeps a close asked before the lines are shown, for when they are.
    void HoldClose(UiLib::UINT result);
    static int32_t WaitCallbackOf(void* userData, OperationWait state);
    void ShowWaiting(bool waiting);

    CMainWnd& main_;
    CVrtWndRestore& panel_;
    int entryIndex_;
    Kind kind_;
    // What the worker reads, copied on the user interface thread before it starts.
    std::string folder_;
    std::string password_;
    bool itunes_ = false;

    std::thread worker_;
    std::atomic<bool> done_{true};
    std::atomic<int32_t> listingResult_{0};
    std::shared_ptr<std::vector<std::wstring>> lines_;  // written by the worker before done_
    std::optional<UiLib::UINT> pendingClose_;
    bool shown_ = false;
    bool waiting_ = false;             // the wait for another operation is shown
    std::atomic<bool> giveUp_{false};  // asked by a close during that wait
};

}  // namespace tolvane
