#include "ui/CViewWnd.h"

#include <cstdio>

#include "UiLib/CDelegate.h"
#include "UiLib/CDialogBuilder.h"
#include "UiLib/CLabelUI.h"
#include "UiLib/CListContainerElementUI.h"
#include "UiLib/CListUI.h"
#include "UiLib/CTabLayoutUI.h"
#include "UiLib/UiLock.h"
#include "engine/BackupEngine.h"
#include "platform/Results.h"
#include "platform/Time.h"
#include "skin/layouts/ElementView.h"
#include "skin/layouts/ViewWnd.h"
#include "ui/CMainWnd.h"
#include "ui/CProgressWnd.h"
#include "ui/CVrtWndRestore.h"

namespace tolvane {

using namespace UiLib;

// --- the lines -----------------------------------------------------------------------------

std::wstring FormatMessageLine(const MessageDetail& message) {
    std::wstring line;
    if (message.unixTime != INT64_MIN) {
        const platform::LocalTime t = platform::ToLocalTime(message.unixTime);
        wchar_t when[32];
        std::swprintf(when, sizeof when / sizeof when[0], L"%04d-%02d-%02d %02d:%02d", t.year,
                      t.month, t.day, t.hour, t.minute);
        line += when;
        line += L"  ";
    }
    switch (message.direction) {
        case MessageDetail::kSent:
            line += message.correspondent.empty() ? L"Sent" : L"Sent to " + message.correspondent;
            break;
        case MessageDetail::kReceived:
            line += message.correspondent.empty() ? L"Received"
                                                  : L"Received from " + message.correspondent;
            break;
        default:
            line += message.correspondent;
            break;
    }
    if (!line.empty() && line.back() != L' ') {
        line += L": ";
    }
    line += message.text;
    return line;
}

std::wstring FormatContactLine(const ContactDetail& contact) {
    std::wstring line = contact.name;
    for (size_t i = 0; i < contact.phones.size(); ++i) {
        line += i == 0 ? (line.empty() ? L"" : L"  ") : L", ";
        line += contact.phones[i];
    }
    return line;
}

// --- rows on demand ------------------------------------------------------------------------

CViewRowsUI::CViewRowsUI(std::shared_ptr<const std::vector<std::wstring>> lines, int pool)
    : lines_(std::move(lines)) {
    SetFixedHeight(static_cast<int>(lines_->size()) * kRowHeight);
    for (int i = 0; i < pool; ++i) {
        CControlUI* row = CDialogBuilder().Create(skin::ElementViewLayout::kFile);
        if (row == nullptr) {
            break;
        }
        Add(row);
        shown_.push_back(-1);
    }
}

int CViewRowsUI::LineOfRow(int row) const {
    UiGuard guard;
    return row >= 0 && row < static_cast<int>(shown_.size()) ? shown_[static_cast<size_t>(row)]
                                                             : -1;
}

void CViewRowsUI::SetPos(const Rect& rc) {
    UiGuard guard;
    CControlUI::SetPos(rc);
    // Only the band the list shows gets rows: from the first line that reaches into it.
    Rect band = rc;
    if (CControlUI* parent = GetParent()) {
        band = rc.Intersect(parent->GetPos());
    }
    const int count = static_cast<int>(lines_->size());
    const int first = band.IsEmpty() ? count : std::max(0, (band.top - rc.top) / kRowHeight);
    for (size_t i = 0; i < items_.size(); ++i) {
        const int line = first + static_cast<int>(i);
        CControlUI* row = items_[i];
        const int top = rc.top + line * kRowHeight;
        if (line < count && top < band.bottom) {
            if (shown_[i] != line) {
                skin::ElementViewLayout(row).LblLine()->SetText(
                    (*lines_)[static_cast<size_t>(line)]);
                shown_[i] = line;
            }
            row->SetPos({rc.left, top, rc.right, top + kRowHeight});
        } else {
            shown_[i] = -1;
            row->SetPos({rc.left, rc.top, rc.left, rc.top});
        }
    }
}

// --- the window ----------------------------------------------------------------------------

CViewWnd::CViewWnd(CMainWnd& main, CVrtWndRestore& panel, int entryIndex, Kind kind)
    : CPopUpWnd("xml\\ViewWnd.xml"),
      main_(main),
      panel_(panel),
      entryIndex_(entryIndex),
      kind_(kind),
      lines_(std::make_shared<std::vector<std::wstring>>()) {
    SetMainWnd(&main);
    const BackupEntry& entry = panel.Entries().at(static_cast<size_t>(entryIndex));
    folder_ = entry.folder;
    password_ = panel.ListingPassword(entry);
    itunes_ = panel.ItunesSource();
}

CViewWnd::~CViewWnd() {
    WaitForWorker();
}

void CViewWnd::WaitForWorker() {
    if (worker_.joinable()) {
        worker_.join();
    }
}

std::vector<std::wstring> CViewWnd::Lines() const {
    if (!done_) {
        return {};
    }
    return *lines_;
}

void CViewWnd::InitWindow() {
    CPopUpWnd::InitWindow();
    skin::ViewWndLayout ui(pm_);
    ui.BtnOK()->Bind("click", CDelegate(this, &CViewWnd::OnOk));
    ui.closebtn()->Bind("click", CDelegate(this, &CViewWnd::OnCloseButton));
}

void CViewWnd::OnWindowInit() {
    skin::ViewWndLayout ui(pm_);
    ui.TxtDescription()->SetText(kind_ == kMessages ? L"Messages List:" : L"Contacts List:");
    ui.TabMain()->SelectItem(0);
    ui.ViewList()->RemoveAll();
    // The buttons stay disabled while the backup is listed; the worker is marked as running
    // before it starts, so no close can slip in before it has begun.
    ui.BtnOK()->SetEnabled(false);
    ui.closebtn()->SetEnabled(false);
    done_ = false;
    worker_ = std::thread([this] { Worker(); });
}

void CViewWnd::Worker() {
    std::vector<MessageDetail> messages;
    std::vector<ContactDetail> contacts;
    int32_t messagesResult = 0;
    int32_t contactsResult = 0;
    {
        // The connect timer keeps running while the viewer is open: the listing (and the
        // decryption tool it may start) waits for the engine like every other use of it.
        CMainWnd::EngineLease engine = main_.LockEngine();
        engine->SetOperationWaitCallback(&CViewWnd::WaitCallbackOf);
        engine->SetCallbackUserData(this);
        const char* password = password_.empty() ? nullptr : password_.c_str();
        messagesResult = ListMessageDetails(messages, folder_, *engine, password, itunes_);
        if (messagesResult != platform::kResultCancelled || !giveUp_) {
            contactsResult = ListContactDetails(contacts, folder_, *engine, password, itunes_);
        }
        engine->SetOperationWaitCallback(nullptr);
        engine->SetCallbackUserData(nullptr);
    }
    // A listing given up counted nothing: the tab keeps the counts it had.
    if (!giveUp_) {
        panel_.StoreCounts(entryIndex_,
                           {static_cast<int>(messages.size()), static_cast<int>(contacts.size())});
    }
    std::vector<std::wstring>& lines = *lines_;
    if (kind_ == kMessages) {
        listingResult_ = messagesResult;
        lines.reserve(messages.size());
        for (MessageDetail& m : messages) {
            lines.push_back(FormatMessageLine(m));
            std::wstring().swap(m.text);
        }
    } else {
        listingResult_ = contactsResult;
        lines.reserve(contacts.size());
        for (const ContactDetail& c : contacts) {
            lines.push_back(FormatContactLine(c));
        }
    }
    done_ = true;
    PostMessage(GetHWND(), UM_VIEW_READY);
}

void CViewWnd::ShowLines() {
    WaitForWorker();
    skin::ViewWndLayout ui(pm_);
    CListUI* list = ui.ViewList();
    list->RemoveAll();
    if (lines_->empty()) {
        auto* item = new CListContainerElementUI();
        item->SetAttribute("height", "200");
        item->SetAttribute("mouse", "false");
        item->SetAttribute("bkcolor", "#FFFFFFFF");
        auto* label = new CLabelUI();
        label->SetAttribute("align", "center");
        label->SetAttribute("textcolor", "#FF6E6E6E");
        label->SetAttribute("font", "9");
        label->SetAttribute("textpadding", "4,4,4,0");
        label->SetText(L"Sorry, No data found!");
        item->Add(label);
        list->Add(item);
    } else {
        list->Add(new CViewRowsUI(lines_));
    }
    ui.BtnOK()->SetEnabled(true);
    ui.closebtn()->SetEnabled(true);
    ui.TabMain()->SelectItem(1);
    shown_ = true;
    if (pendingClose_) {
        const UINT result = *pendingClose_;
        pendingClose_.reset();
        Close(result);
    }
}

void CViewWnd::CloseWhenDone(UINT result) {
    if (!done_ || !shown_) {
        HoldClose(result);
        return;
    }
    Close(result);
}

bool CViewWnd::OnOk(TNotifyUI&) {
    CloseWhenDone(IDOK);
    return true;
}

bool CViewWnd::OnCloseButton(TNotifyUI&) {
    CloseWhenDone(IDCANCEL);
    return true;
}

bool CViewWnd::QueryClose(UINT result, CloseOrigin origin) {
    (void)origin;
    if (!done_ || !shown_) {
        HoldClose(result);
        return false;
    }
    return true;
}

void CViewWnd::HoldClose(UINT result) {
    // Whoever asks, the window goes once the listing has ended; during a wait for another
    // operation that is at once, the wait being given up.
    if (waiting_) {
        giveUp_ = true;
    }
    pendingClose_ = result;
}

int32_t CViewWnd::WaitCallbackOf(void* userData, OperationWait state) {
    auto* self = static_cast<CViewWnd*>(userData);
    if (state != OperationWait::GoesOn) {
        PostMessage(self->GetHWND(), UM_VIEW_WAITING, state == OperationWait::Begins ? 1 : 0);
    }
    return state != OperationWait::Ends && self->giveUp_ ? 1 : 0;
}

void CViewWnd::ShowWaiting(bool waiting) {
    waiting_ = waiting && !done_;
    skin::ViewWndLayout ui(pm_);
    ui.LblTip()->SetText(waiting_ ? kFiguresWaiting : L"Loading...");
    // The close button gives the wait up; OK stays for the lines.
    ui.closebtn()->SetEnabled(waiting_ || (done_ && shown_));
    if (waiting_ && pendingClose_) {
        giveUp_ = true;  // a close asked before the wait showed
    }
}

LRESULT CViewWnd::HandleMessage(UINT msg, WPARAM wParam, LPARAM lParam) {
    if (msg == UM_VIEW_READY) {
        waiting_ = false;
        ShowLines();
        return 0;
    }
    if (msg == UM_VIEW_WAITING) {
        ShowWaiting(wParam != 0);
        return 0;
    }
    return CPopUpWnd::HandleMessage(msg, wParam, lParam);
}

}  // namespace tolvane
