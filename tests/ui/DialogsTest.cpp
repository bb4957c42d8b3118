// The popup base and the message box in the offscreen host: how they close (buttons, Escape,
// Enter, the window manager), their layouts, titles and language texts, their place and their
// modality over the main window.
#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "UiLib/OffscreenHost.h"
#include "tests/ui/DialogsSupport.h"
#include "ui/CMessageBox.h"
#include "ui/CPopUpWnd.h"

namespace tolvane {
namespace {

using UiLib::OffscreenHost;
using UiLib::WindowImplBase;
using uitest::DialogTest;

std::wstring TextOf(WindowImplBase& wnd, const std::string& name) {
    UiLib::CControlUI* c = wnd.GetPaintManager().FindControl(name);
    return c != nullptr ? c->GetText()
                        : L"<missing " + std::wstring(name.begin(), name.end()) + L">";
}

bool Centred(const UiLib::Rect& inner, const UiLib::Rect& outer) {
    return std::abs((inner.left + inner.right) - (outer.left + outer.right)) <= 1 &&
           std::abs((inner.top + inner.bottom) - (outer.top + outer.bottom)) <= 1;
}

using MessageBoxTest = DialogTest;

TEST_F(MessageBoxTest, OkAnswersOneAndEveryOtherWayOutAnswersTwo) {
    auto& main = Main();
    struct Way {
        const char* name;
        CMessageBox::Kind kind;
        std::function<void(WindowImplBase&)> act;
        UiLib::UINT expected;
    };
    const std::vector<Way> ways = {
        {"okbtn", CMessageBox::Information,
         [&](WindowImplBase& box) { EXPECT_TRUE(host_.Click(box, "okbtn")); }, 1},
        {"okbtn of a question", CMessageBox::Question,
         [&](WindowImplBase& box) { EXPECT_TRUE(host_.Click(box, "okbtn")); }, 1},
        {"cancelbtn", CMessageBox::Question,
         [&](WindowImplBase& box) { EXPECT_TRUE(host_.Click(box, "cancelbtn")); }, 2},
        {"closebtn", CMessageBox::Information,
         [&](WindowImplBase& box) { EXPECT_TRUE(host_.Click(box, "closebtn")); }, 2},
        {"Escape", CMessageBox::Warning,
         [&](WindowImplBase& box) { host_.PressKey(box, UiLib::VK_ESCAPE); }, 2},
        {"the window manager", CMessageBox::Confirm,
         [&](WindowImplBase& box) { host_.RequestClose(box); }, 2},
        {"Enter, then okbtn", CMessageBox::Error,
         [&](WindowImplBase& box) {
             host_.PressKey(box, UiLib::VK_RETURN);
             host_.PumpMessages();
             EXPECT_FALSE(box.IsClosed()) << "Enter closed the box";
             EXPECT_TRUE(host_.Click(box, "okbtn"));
         },
         1},
    };
    for (const Way& way : ways) {
        SCOPED_TRACE(way.name);
        Script({[&] {
            WindowImplBase* box = WindowImplBase::TopModal();
            EXPECT_NE(box, &main);
            if (box != nullptr) {
                way.act(*box);
            }
            return true;
        }});
        EXPECT_EQ(CMessageBox::Show(way.kind, &main, L"Question", L"Go on?", 500, 220),
                  way.expected);
        EXPECT_EQ(PendingSteps(), 0u);
    }
}

TEST_F(MessageBoxTest, EachKindHasItsLayoutButtonsIconAndTitle) {
    auto& main = Main();
    struct Row {
        CMessageBox::Kind kind;
        const char* layout;
        bool cancel;
        const char* icon;
        const wchar_t* title;
    };
    const Row rows[] = {
        {CMessageBox::Error, "MessageBox_Error.xml", false, "344,473,397,526", L"Error"},
        {CMessageBox::Confirm, "MessageBox_Confirm.xml", true, "291,473,344,526", L"Confirm"},
        {CMessageBox::Information, "MessageBox_Information.xml", false, "450,473,503,526",
         L"Information"},
        {CMessageBox::Warning, "MessageBox_Warning.xml", true, "344,473,397,526", L"Warning"},
        {CMessageBox::Question, "MessageBox_Question.xml", true, "397,473,450,526", L"Question"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.layout);
        EXPECT_EQ(CMessageBox::LayoutOf(row.kind), row.layout);
        Script({[&] {
            WindowImplBase* box = WindowImplBase::TopModal();
            if (box == nullptr) {
                ADD_FAILURE() << "no modal box";
                return true;
            }
            EXPECT_EQ(box->GetWindowClassName(), "UIMessageBox");
            EXPECT_EQ(box->GetSkinFile(), std::string("xml\\") + row.layout);
            EXPECT_EQ(TextOf(*box, "title"), row.title);  // the layout's "Message Box" replaced
            EXPECT_EQ(TextOf(*box, "message"), L"No file found, Please back up first.");
            EXPECT_EQ(TextOf(*box, "okbtn"), L"OK");
            UiLib::CControlUI* cancel = box->GetPaintManager().FindControl("cancelbtn");
            EXPECT_EQ(cancel != nullptr && cancel->IsVisible(), row.cancel);
            if (cancel != nullptr) {
                EXPECT_EQ(cancel->GetText(), L"Cancel");
            }
            UiLib::CControlUI* icon = box->GetPaintManager().FindControl("icon");
            EXPECT_NE(icon ? icon->GetBkImage().find(row.icon) : std::string::npos,
                      std::string::npos);

            const auto state = OffscreenHost::StateOf(*box);
            EXPECT_EQ(state.bounds.Width(), 500);
            EXPECT_EQ(state.bounds.Height(), 220);
            EXPECT_TRUE(state.toolWindow);
            EXPECT_TRUE(state.modal);
            EXPECT_TRUE(Centred(state.bounds, OffscreenHost::StateOf(main).bounds));
            // The owner takes no input meanwhile.
            EXPECT_FALSE(main.IsInputEnabled());
            EXPECT_FALSE(host_.Click(main, "BtnMenu"));
            EXPECT_TRUE(host_.Click(*box, "okbtn"));
            return true;
        }});
        EXPECT_EQ(CMessageBox::Show(row.kind, &main, std::nullopt,
                                    L"No file found, Please back up first.", 500, 220),
                  1u);
        EXPECT_TRUE(main.IsInputEnabled());
    }
}

TEST_F(MessageBoxTest, TitlesAndButtonsFollowTheLanguageFile) {
    WriteLanguageFile(
        "[Messages]\nMSG0404=Are you sure?\nMSG0404=second text\n[MessageBox]\nokbtn=Yes\n"
        "cancelbtn=No\ntitle=never shown\n");
    auto& main = Main();
    Script({[&] {
        WindowImplBase* box = WindowImplBase::TopModal();
        EXPECT_EQ(TextOf(*box, "title"), L"Are you sure?");  // the first occurrence counts
        EXPECT_EQ(TextOf(*box, "message"), L"Stop the backup?");
        EXPECT_EQ(TextOf(*box, "okbtn"), L"Yes");
        EXPECT_EQ(TextOf(*box, "cancelbtn"), L"No");
        return host_.Click(*box, "cancelbtn");
    }});
    EXPECT_EQ(CMessageBox::Show(CMessageBox::Question, &main, std::nullopt, L"Stop the backup?"),
              2u);

    // An explicit title wins over the language file; without a language file the layout's
    // button texts and the built-in titles remain.
    WriteLanguageFile("");
    Script({[&] {
        WindowImplBase* box = WindowImplBase::TopModal();
        EXPECT_EQ(TextOf(*box, "title"), L"Information");
        EXPECT_EQ(TextOf(*box, "okbtn"), L"OK");
        return host_.Click(*box, "okbtn");
    }});
    EXPECT_EQ(CMessageBox::Show(CMessageBox::Information, &main, std::nullopt, L"Done"), 1u);
    Script({[&] {
        WindowImplBase* box = WindowImplBase::TopModal();
        EXPECT_EQ(TextOf(*box, "title"), L"Mine");
        return host_.Click(*box, "okbtn");
    }});
    EXPECT_EQ(CMessageBox::Show(CMessageBox::Question, &main, L"Mine", L"Done"), 1u);
}

TEST_F(MessageBoxTest, ABoxWithoutOwnerIsCentredOnTheScreen) {
    Script({[&] {
        WindowImplBase* box = WindowImplBase::TopModal();
        EXPECT_TRUE(Centred(OffscreenHost::StateOf(*box).bounds, host_.ScreenRect()));
        return host_.Click(*box, "okbtn");
    }});
    EXPECT_EQ(CMessageBox::Show(CMessageBox::Error, nullptr, std::nullopt, L"x"), 1u);
}

// A popup of the notice layout that records what the base did for it.
class TestPopUp : public CPopUpWnd {
  public:
    TestPopUp() : CPopUpWnd("xml\\CommonWnd.xml") {}
    std::wstring okTextAtInit;
    std::wstring messageAtInit;
    int inits = 0;

  protected:
    void OnWindowInit() override {
        ++inits;
        okTextAtInit = GetPaintManager().FindControl("okbtn")->GetText();
        messageAtInit = Message(L"MSG0401", L"fallback");
    }
};

using PopUpTest = DialogTest;

TEST_F(PopUpTest, InitLoadsTheMessagesAndTheWindowsOwnSectionBeforeTheWindowsOwnSteps) {
    WriteLanguageFile(
        "[Messages]\nMSG0401=Fault\n[CommonWnd]\nokbtn=Understood\nnot_a_control=x\n"
        "[SettingsWnd]\nokbtn=wrong section\n");
    auto& main = Main();
    TestPopUp popup;
    EXPECT_EQ(popup.GetLanguageSection(), "CommonWnd");
    EXPECT_EQ(popup.GetWindowClassName(), "UIPopUpWnd");
    popup.Create(&main, 570, 220);
    Script({[&] {
        EXPECT_EQ(popup.inits, 1);
        EXPECT_EQ(popup.okTextAtInit, L"Understood");
        EXPECT_EQ(popup.messageAtInit, L"Fault");
        EXPECT_EQ(popup.Message(L"MSG9999", L"fallback"), L"fallback");
        const auto state = OffscreenHost::StateOf(popup);
        EXPECT_EQ(state.bounds.Width(), 570);
        EXPECT_EQ(state.bounds.Height(), 220);
        EXPECT_TRUE(state.toolWindow);
        EXPECT_TRUE(Centred(state.bounds, OffscreenHost::StateOf(main).bounds));
        return host_.Click(popup, "okbtn");
    }});
    EXPECT_EQ(popup.ShowModal(), 1u);
}

TEST_F(PopUpTest, OkbtnClosesWithOneCloseButtonWithTwoAndKeysCloseNothing) {
    auto& main = Main();
    {
        TestPopUp popup;
        popup.Create(&main, 570, 220);
        Script({[&] {
            host_.PressKey(popup, UiLib::VK_ESCAPE);
            host_.PressKey(popup, UiLib::VK_RETURN);
            host_.PumpMessages();
            EXPECT_FALSE(popup.IsClosed());
            return host_.Click(popup, "closebtn");
        }});
        EXPECT_EQ(popup.ShowModal(), 2u);
    }
    {
        TestPopUp popup;
        popup.Create(&main, 570, 220);
        Script({[&] {
            host_.RequestClose(popup);
            return true;
        }});
        EXPECT_EQ(popup.ShowModal(), 2u);
    }
    // Dragging: the caption moves the window, its buttons do not.
    TestPopUp popup;
    popup.Create(&main, 570, 220);
    popup.ShowWindow();
    host_.PumpMessages();
    cairo_surface_destroy(host_.Render(popup));  // laid out
    EXPECT_EQ(popup.HitTest({200, 20}), UiLib::HTCAPTION);
    UiLib::CControlUI* close = popup.GetPaintManager().FindControl("closebtn");
    const UiLib::Rect rc = close->GetPos();
    EXPECT_EQ(popup.HitTest({(rc.left + rc.right) / 2, (rc.top + rc.bottom) / 2}), UiLib::HTCLIENT);
    EXPECT_EQ(popup.HitTest({200, 100}), UiLib::HTCLIENT);
}

}  // namespace
}  // namespace tolvane
