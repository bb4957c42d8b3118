// Windows through the offscreen host: creation, modal results, posted messages from other
// threads, keys and the message filter, the caption hit test, edits, timers and GIF buttons.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "UiLib/CButtonGifUI.h"
#include "UiLib/CEditUI.h"
#include "UiLib/CMenuElementUI.h"
#include "UiLib/CMenuUI.h"
#include "UiLib/CMenuWindow.h"
#include "UiLib/CWndShadow.h"
#include "UiLib/OffscreenHost.h"
#include "UiLib/WindowImplBase.h"
#include "skin/Skin.h"
#include "tests/uilib/PixelProbe.h"
#include "tests/uilib/TestArchive.h"

namespace UiLib {
namespace {

using namespace std::chrono_literals;

std::string SkinGif();

const std::map<std::string, std::string>& Files() {
    static const std::map<std::string, std::string> files = {
        {"xml/dlg.xml", R"(<Window size="400,300" caption="0,0,0,40">
            <VerticalLayout name="root">
              <HorizontalLayout height="40" name="captionBar">
                <Label name="title" text="Title" />
                <Button name="closebtn" width="40" />
                <Text name="captionText" width="40" text="t" />
              </HorizontalLayout>
              <Edit name="EditPassword" height="30" password="true" maxchar="5" tipvalue="Password" />
              <Edit name="EditOther" height="30" />
              <Button name="okbtn" height="30" text="OK" />
              <Button name="off" height="30" enabled="false" />
              <ButtonGif name="gif" height="30" normalgiffile="spin.gif" />
            </VerticalLayout></Window>)"},
        {"xml/menu.xml", R"(<Window size="150,400"><Menu name="menu_assist" inset="0,2,0,2">
              <MenuElement name="item_settings" text="Settings" height="30" />
              <MenuElement name="item_language" text="Language" height="30">
                <MenuElement name="lang_en" text="English" height="30" />
              </MenuElement>
              <MenuElement name="item_hidden" height="30" visible="false" />
            </Menu></Window>)"},
        {"spin.gif", SkinGif()},
    };
    return files;
}

// The spinner of the product's skin (its frames are what the test counts on).
std::string SkinGif() {
    auto archive = CResourceArchive::Open(tolvane::skin::ArchiveBytes());
    auto bytes = archive->Read("connecting.gif");
    return bytes ? std::string(bytes->begin(), bytes->end()) : std::string();
}

class TestWindow : public WindowImplBase {
  public:
    std::string GetSkinFile() override { return "xml\\dlg.xml"; }
    std::string GetWindowClassName() const override { return "UITestWnd"; }
    std::vector<std::string> events;
    std::vector<UINT> messages;
    bool swallowKeys = false;

  protected:
    void InitWindow() override { events.push_back("init"); }
    void HandleNotify(TNotifyUI& msg) override {
        events.push_back(msg.sType + ":" + (msg.pSender ? msg.pSender->GetName() : ""));
        if (msg.sType == "click" && msg.pSender->GetName() == "okbtn") {
            Close(IDOK);
            return;
        }
        WindowImplBase::HandleNotify(msg);
    }
    LRESULT HandleMessage(UINT msg, WPARAM wParam, LPARAM lParam) override {
        if (msg >= WM_USER) {
            messages.push_back(msg);
            return 0;
        }
        return WindowImplBase::HandleMessage(msg, wParam, lParam);
    }
    LRESULT MessageHandler(UINT msg, WPARAM wParam, LPARAM lParam, bool& handled) override {
        if (swallowKeys && msg == WM_KEYDOWN && (wParam == VK_RETURN || wParam == VK_ESCAPE)) {
            handled = true;
            return 0;
        }
        return WindowImplBase::MessageHandler(msg, wParam, lParam, handled);
    }
};

class Windows : public ::testing::Test {
  protected:
    uilibtest::ScopedArchive archive_{Files()};
    OffscreenHost host_;
};

TEST_F(Windows, CreatedFromTheLayoutWithTheGivenOrLayoutSize) {
    TestWindow a;
    ASSERT_NE(a.Create(nullptr, "", 0, 0, 0, 0), 0u);
    EXPECT_EQ(a.GetWindowRect(), (Rect{0, 0, 400, 300}));
    TestWindow b;
    b.Create(&a, "", 0, 0, 500, 220);
    b.CenterWindow();
    EXPECT_EQ(b.GetWindowRect(), (Rect{-50, 40, 450, 260}));  // centred on its owner
    EXPECT_EQ(b.GetPaintManager().GetClientSize(), (Size{500, 220}));
    // "windowinit" arrives from the loop, after InitWindow and before anything else.
    EXPECT_EQ(a.events, std::vector<std::string>{"init"});
    host_.PumpMessages();
    EXPECT_EQ(a.events, (std::vector<std::string>{"init", "windowinit:root"}));
}

TEST_F(Windows, ModalRunEndsWithTheWParamOfTheClosingMessage) {
    TestWindow w;
    w.Create(nullptr, "", 0, 0, 0, 0);
    host_.SetIdleHandler([&] { return host_.Click(w, "okbtn"); });
    EXPECT_EQ(w.ShowModal(), static_cast<UINT>(IDOK));
    EXPECT_TRUE(w.IsClosed());
    EXPECT_FALSE(WindowImplBase::IsWindow(w.GetHWND()));
    EXPECT_FALSE(WindowImplBase::PostMessage(w.GetHWND(), WM_CLOSE, 1));
}

TEST_F(Windows, WorkerThreadClosesAModalWindowWithItsResult) {
    TestWindow w;
    const WindowHandle h = w.Create(nullptr, "", 0, 0, 0, 0);
    std::thread worker([h] {
        std::this_thread::sleep_for(20ms);
        WindowImplBase::PostMessage(h, WM_USER + 1, 0, 0);
        WindowImplBase::PostMessage(h, WM_CLOSE, 8, 0);
    });
    const UINT result = w.ShowModal();
    worker.join();
    EXPECT_EQ(result, 8u);
    EXPECT_EQ(w.messages, std::vector<UINT>{WM_USER + 1});
}

TEST_F(Windows, MessageLoopRunsUntilTheQuitMessageFromAnyThread) {
    TestWindow w;
    const WindowHandle h = w.Create(nullptr, "", 0, 0, 0, 0);
    std::thread worker([h] {
        WindowImplBase::PostMessage(h, WM_USER + 7, 0, 0);
        std::this_thread::sleep_for(20ms);
        WindowImplBase::PostQuitMessage(3);
    });
    EXPECT_EQ(WindowImplBase::MessageLoop(), 3);
    worker.join();
    EXPECT_EQ(w.messages, std::vector<UINT>{WM_USER + 7});
}

TEST_F(Windows, CloseButtonAndEscapeEndWithCancelEnterDoesNothing) {
    TestWindow a;
    a.Create(nullptr, "", 0, 0, 0, 0);
    host_.SetIdleHandler([&] { return host_.Click(a, "closebtn"); });
    EXPECT_EQ(a.ShowModal(), static_cast<UINT>(IDCANCEL));

    TestWindow b;
    b.Create(nullptr, "", 0, 0, 0, 0);
    int step = 0;
    host_.SetIdleHandler([&] {
        host_.PressKey(b, step++ == 0 ? VK_RETURN : VK_ESCAPE);
        return true;
    });
    EXPECT_EQ(b.ShowModal(), static_cast<UINT>(IDCANCEL));
    EXPECT_EQ(step, 2);  // Enter did not close it
}

class SkinPopup : public WindowImplBase {
  public:
    explicit SkinPopup(std::string layout) : layout_(std::move(layout)) {}
    std::string GetSkinFile() override { return layout_; }
    std::string GetWindowClassName() const override { return "UIPopUpWnd"; }

  private:
    std::string layout_;
};

TEST_F(Windows, PopupsCentreOnTheirOwnerTakeLanguageTextsAndCloseWithTheirButtons) {
    TestWindow owner;
    owner.Create(nullptr, "", 100, 100, 900, 600);
    uilibtest::ScopedArchive skin(
        std::map<std::string, std::string>{{"xml/box.xml", R"(<Window size="500,220"
            caption="0,0,0,40"><VerticalLayout><HorizontalLayout height="40"><Label name="title" />
            <Button name="closebtn" width="40" /></HorizontalLayout><Text name="message" height="40" />
            <Button name="okbtn" height="30" /><Button name="cancelbtn" height="30" />
            </VerticalLayout></Window>)"}});
    for (const char* button : {"okbtn", "cancelbtn", "closebtn"}) {
        SkinPopup box("xml/box.xml");
        ASSERT_NE(box.CreatePopup(&owner, 500, 220), 0u);
        EXPECT_EQ(box.GetWindowRect(), (Rect{300, 290, 800, 510}));
        EXPECT_EQ(
            box.ApplyTexts({{L"okbtn", L"OK"}, {L"cancelbtn", L"Cancel"}, {L"nothing", L"x"}}), 2);
        EXPECT_EQ(box.GetPaintManager().FindControl("okbtn")->GetText(), L"OK");
        host_.SetIdleHandler([&] { return host_.Click(box, button); });
        EXPECT_EQ(box.ShowModal(), std::string(button) == "okbtn" ? 1u : 2u) << button;
    }
    host_.SetIdleHandler(nullptr);
}

TEST_F(Windows, AMessageFilterCanClaimEnterAndEscape) {
    TestWindow w;
    w.swallowKeys = true;
    w.Create(nullptr, "", 0, 0, 0, 0);
    host_.PressKey(w, VK_ESCAPE);
    host_.PumpMessages();
    EXPECT_FALSE(w.IsClosed());
}

TEST_F(Windows, CaptionHitTestExceptOverButtonsAndTexts) {
    TestWindow w;
    w.Create(nullptr, "", 0, 0, 0, 0);
    w.GetPaintManager().UpdateLayout();
    EXPECT_EQ(w.HitTest({10, 10}), HTCAPTION);  // the title label
    EXPECT_EQ(w.HitTest({330, 10}), HTCLIENT);  // closebtn (ButtonUI)
    EXPECT_EQ(w.HitTest({370, 10}), HTCLIENT);  // a TextUI
    EXPECT_EQ(w.HitTest({10, 45}), HTCLIENT);   // below the caption
    w.SetCaptionExemptClasses({"ButtonUI"});
    EXPECT_EQ(w.HitTest({370, 10}), HTCAPTION);
    // A press in the caption moves the window instead of reaching the controls.
    EXPECT_FALSE(w.HostButtonDown({10, 10}, 0, false));
}

TEST_F(Windows, EditsTypeWithLimitPasswordTipAndClipboard) {
    TestWindow w;
    w.Create(nullptr, "", 0, 0, 0, 0);
    auto* pwd = dynamic_cast<CEditUI*>(w.GetPaintManager().FindControl("EditPassword"));
    auto* other = dynamic_cast<CEditUI*>(w.GetPaintManager().FindControl("EditOther"));
    EXPECT_EQ(pwd->GetText(), L"");  // the tip is shown, not stored
    ASSERT_TRUE(host_.TypeText(w, "EditPassword", L"sécret!"));
    EXPECT_EQ(pwd->GetText(), L"sécre");  // at most 5 characters
    host_.PressKey(w, VK_BACK);
    host_.PressKey(w, VK_HOME);
    host_.PressKey(w, VK_DELETE);
    EXPECT_EQ(pwd->GetText(), L"écr");
    // A password does not go to the clipboard.
    host_.SetClipboardText(L"keep");
    host_.PressKey(w, 'A', kModControl);
    host_.PressKey(w, 'C', kModControl);
    EXPECT_EQ(host_.GetClipboardText(), L"keep");
    // Other edits copy, cut and paste.
    ASSERT_TRUE(host_.TypeText(w, "EditOther", L"hello"));
    host_.PressKey(w, VK_LEFT, kModShift);
    host_.PressKey(w, VK_LEFT, kModShift);
    host_.PressKey(w, 'X', kModControl);
    EXPECT_EQ(host_.GetClipboardText(), L"lo");
    EXPECT_EQ(other->GetText(), L"hel");
    host_.PressKey(w, VK_HOME);
    host_.PressKey(w, 'V', kModControl);
    EXPECT_EQ(other->GetText(), L"lohel");
    EXPECT_FALSE(host_.TypeText(w, "off", L"x"));  // a disabled control takes no clicks
}

TEST_F(Windows, GifButtonAdvancesFramesOnItsTimer) {
    TestWindow w;
    w.Create(nullptr, "", 0, 0, 0, 0);
    auto* gif = dynamic_cast<CButtonGifUI*>(w.GetPaintManager().FindControl("gif"));
    ASSERT_EQ(gif->GetFrameCount(), 8);
    cairo_surface_destroy(host_.Render(w));  // the first paint starts the timer
    EXPECT_EQ(gif->GetCurrentFrame(), 0);
    const auto until = std::chrono::steady_clock::now() + 2s;
    while (gif->GetCurrentFrame() == 0 && std::chrono::steady_clock::now() < until) {
        host_.PumpFor(10ms);
    }
    EXPECT_NE(gif->GetCurrentFrame(), 0);
    gif->SetVisible(false);  // hidden: the timer stops
    const int frame = gif->GetCurrentFrame();
    host_.PumpFor(80ms);
    EXPECT_EQ(gif->GetCurrentFrame(), frame);
}

class RecordingMenu : public CMenuWindow {
  public:
    std::vector<std::string> clicked;

  protected:
    void OnMenuItemClick(CMenuElementUI* item) override { clicked.push_back(item->GetName()); }
};

TEST_F(Windows, MenuSizesToItsItemsOpensSubItemsAndClosesAfterAClick) {
    TestWindow owner;
    owner.Create(nullptr, "", 0, 0, 0, 0);
    RecordingMenu menu;
    ASSERT_TRUE(menu.Init(&owner, "xml/menu.xml", {100, 200}));
    EXPECT_EQ(menu.GetWindowRect(), (Rect{100, 200, 250, 264}));  // two visible items + inset
    host_.PumpMessages();
    ASSERT_TRUE(host_.Click(menu, "item_language"));  // has a sub-item: opens it, stays open
    EXPECT_FALSE(menu.IsClosed());
    EXPECT_TRUE(menu.clicked.empty());
    ASSERT_TRUE(host_.Click(menu, "item_settings"));
    host_.PumpMessages();
    EXPECT_EQ(menu.clicked, std::vector<std::string>{"item_settings"});
    EXPECT_TRUE(menu.IsClosed());
}

TEST(Shadow, FadesOutwardAndLeavesTheWindowAreaClear) {
    CWndShadow shadow;
    shadow.SetSize(4);
    shadow.SetDarkness(120);
    shadow.SetColor(45, 45, 45);
    cairo_surface_t* s = shadow.Render({20, 10});
    EXPECT_EQ(cairo_image_surface_get_width(s), 28);
    EXPECT_EQ(cairo_image_surface_get_height(s), 18);
    const uint32_t inner = uilibtest::PixelAt(s, 3, 9) >> 24;
    const uint32_t outer = uilibtest::PixelAt(s, 0, 9) >> 24;
    EXPECT_GT(inner, outer);
    EXPECT_LE(inner, 120u);
    EXPECT_EQ(uilibtest::PixelAt(s, 14, 9), 0u);
    cairo_surface_destroy(s);
}

}  // namespace
}  // namespace UiLib
