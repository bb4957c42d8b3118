// Windows through the offscreen host: creation and centring, modal results, posted and delayed
// messages from other threads, keys and the message filter, the caption hit test, edits, GIF
// buttons, icons, bringing a window to the front, the choosers' seam and the shadow.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "UiLib/CButtonGifUI.h"
#include "UiLib/CEditUI.h"
#include "UiLib/CWndShadow.h"
#include "UiLib/OffscreenHost.h"
#include "UiLib/WindowImplBase.h"
#include "tests/uilib/PixelProbe.h"
#include "tests/uilib/TestWindows.h"

namespace UiLib {
namespace {

using namespace std::chrono_literals;
using uilibtest::TestWindow;
using Windows = uilibtest::WindowTestBase;

TEST_F(Windows, CreatedFromTheLayoutWithTheGivenOrLayoutSize) {
    TestWindow a;
    ASSERT_NE(a.Create(nullptr, "", 0, 0, 0, 0), 0u);
    EXPECT_EQ(a.GetWindowRect(), (Rect{0, 0, 400, 300}));
    TestWindow b;
    b.Create(&a, "", 0, 0, 500, 220);
    b.CenterWindow();
    EXPECT_EQ(b.GetWindowRect(), (Rect{-50, 40, 450, 260}));  // centred on its owner
    EXPECT_EQ(b.GetPaintManager().GetClientSize(), (Size{500, 220}));
    TestWindow c;
    c.Create(nullptr, "", 0, 0, 1000, 665);
    c.CenterWindow();  // no owner: the work area (1920 x 1080 offscreen)
    EXPECT_EQ(c.GetWindowRect(), (Rect{460, 207, 1460, 872}));
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

TEST_F(Windows, EscapeAndEnterCloseOnlyAWindowThatAsksForIt) {
    TestWindow a;
    a.Create(nullptr, "", 0, 0, 0, 0);
    host_.SetIdleHandler([&] { return host_.Click(a, "closebtn"); });
    EXPECT_EQ(a.ShowModal(), static_cast<UINT>(IDCANCEL));

    // By default neither key closes a window; the focused edit still gets them.
    TestWindow b;
    b.Create(nullptr, "", 0, 0, 0, 0);
    b.ShowWindow();
    ASSERT_TRUE(host_.TypeText(b, "EditOther", L"ab"));
    host_.PressKey(b, VK_ESCAPE);
    host_.PressKey(b, VK_RETURN);
    host_.PumpMessages();
    EXPECT_FALSE(b.IsClosed());
    // A message box: Escape closes with Cancel, Enter does nothing.
    b.SetCloseOnKey(VK_ESCAPE, IDCANCEL);
    int step = 0;
    host_.SetIdleHandler([&] {
        host_.PressKey(b, step++ == 0 ? VK_RETURN : VK_ESCAPE);
        return true;
    });
    EXPECT_EQ(b.ShowModal(), static_cast<UINT>(IDCANCEL));
    EXPECT_EQ(step, 2);  // Enter did not close it
    // Enter may be asked for too, and a key can be given back.
    TestWindow c;
    c.Create(nullptr, "", 0, 0, 0, 0);
    c.SetCloseOnKey(VK_ESCAPE, IDCANCEL);
    c.SetCloseOnKey(VK_ESCAPE, std::nullopt);
    c.SetCloseOnKey(VK_RETURN, IDOK);
    step = 0;
    host_.SetIdleHandler([&] {
        host_.PressKey(c, step++ == 0 ? VK_ESCAPE : VK_RETURN);
        return true;
    });
    EXPECT_EQ(c.ShowModal(), static_cast<UINT>(IDOK));
    EXPECT_EQ(step, 2);
    host_.SetIdleHandler(nullptr);
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
    w.ShowWindow();
    w.SetCloseOnKey(VK_ESCAPE, IDCANCEL);  // the window's own filter sees the key first
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
    // A press in the caption moves the window instead of reaching the controls; a double click
    // there is the caption's (WM_NCLBUTTONDBLCLK, swallowed: no maximising).
    EXPECT_FALSE(w.HostButtonDown({10, 10}, 0, false));
    EXPECT_FALSE(w.HostButtonDown({10, 10}, 0, true));
    EXPECT_EQ(w.messages, std::vector<UINT>{WM_NCLBUTTONDBLCLK});
    EXPECT_EQ(w.GetWindowRect(), (Rect{0, 0, 400, 300}));
    EXPECT_EQ(w.events, std::vector<std::string>{"init"});  // no control saw a press
}

TEST_F(Windows, EditsTypeWithLimitPasswordTipAndClipboard) {
    TestWindow w;
    w.Create(nullptr, "", 0, 0, 0, 0);
    w.ShowWindow();
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

TEST_F(Windows, DelayedMessagesArriveAfterTheirDelayAndNotAtAClosedWindow) {
    TestWindow w;
    const WindowHandle h = w.Create(nullptr, "", 0, 0, 0, 0);
    std::thread poster([h] { WindowImplBase::PostDelayedMessage(h, 60ms, WM_USER + 5, 0, 0); });
    poster.join();
    const auto start = std::chrono::steady_clock::now();
    host_.PumpFor(20ms);
    EXPECT_TRUE(w.messages.empty());
    while (w.messages.empty() && std::chrono::steady_clock::now() - start < 2s) {
        host_.PumpFor(5ms);
    }
    EXPECT_EQ(w.messages, std::vector<UINT>{WM_USER + 5});
    EXPECT_GE(std::chrono::steady_clock::now() - start, 60ms);

    TestWindow gone;
    const WindowHandle g = gone.Create(nullptr, "", 0, 0, 0, 0);
    EXPECT_TRUE(WindowImplBase::PostDelayedMessage(g, 10ms, WM_USER + 6));
    gone.Close(IDOK);
    host_.PumpFor(40ms);
    EXPECT_TRUE(gone.IsClosed());
    EXPECT_TRUE(gone.messages.empty());
    EXPECT_FALSE(WindowImplBase::PostDelayedMessage(g, 10ms, WM_USER + 6));
}

TEST_F(Windows, IconsAreDrawnFromTheSkinInTwoSizes) {
    TestWindow w;
    w.Create(nullptr, "", 0, 0, 0, 0);
    ASSERT_TRUE(w.SetIcon("file='logo.png' source='0,0,28,28'"));
    EXPECT_EQ(OffscreenHost::StateOf(w).iconSmall, 16);
    EXPECT_EQ(OffscreenHost::StateOf(w).iconLarge, 64);
    // The large one comes from the double-density picture.
    cairo_surface_t* small = WindowImplBase::RenderIcon("file='logo.png'", 16);
    cairo_surface_t* large = WindowImplBase::RenderIcon("file='logo.png'", 64);
    ASSERT_TRUE(small && large);
    EXPECT_EQ(uilibtest::PixelAt(small, 8, 8), 0xFFFF0000u);
    EXPECT_EQ(uilibtest::PixelAt(large, 32, 32), 0xFF0000FFu);
    cairo_surface_destroy(small);
    cairo_surface_destroy(large);
    EXPECT_FALSE(w.SetIcon("file='nothing.png'"));
    EXPECT_EQ(OffscreenHost::StateOf(w).iconLarge, 64);  // the old icon stays
}

TEST_F(Windows, BringingToFrontFromAnotherThreadPresentsTheWindowOrItsModalPopup) {
    TestWindow main;
    const WindowHandle h = main.Create(nullptr, "Tolvane", 0, 0, 0, 0);
    EXPECT_FALSE(OffscreenHost::StateOf(main).shown);
    std::thread second([h] { EXPECT_TRUE(WindowImplBase::PostBringToFront(h)); });
    second.join();
    host_.PumpMessages();
    EXPECT_TRUE(OffscreenHost::StateOf(main).shown);
    EXPECT_EQ(OffscreenHost::StateOf(main).presents, 1);
    // While a modal popup runs, the popup comes forward instead.
    TestWindow popup;
    popup.CreatePopup(&main, 300, 200);
    int popupPresents = 0;
    host_.SetIdleHandler([&] {
        main.BringToFront();
        popupPresents = OffscreenHost::StateOf(popup).presents;
        popup.Close(IDOK);
        return true;
    });
    EXPECT_EQ(popup.ShowModal(), static_cast<UINT>(IDOK));
    host_.SetIdleHandler(nullptr);
    EXPECT_EQ(popupPresents, 1);
    EXPECT_EQ(OffscreenHost::StateOf(main).presents, 1);
    EXPECT_EQ(WindowImplBase::PostBringToFront(popup.GetHWND()), false);  // gone
}

TEST_F(Windows, ChoosersAreAskedThroughTheSeamAndAnsweredByTheTest) {
    TestWindow owner;
    owner.Create(nullptr, "", 0, 0, 0, 0);
    owner.ShowWindow();
    host_.QueueChoice(L"/home/u/sms.csv");
    EXPECT_EQ(owner.ChooseFile(L"Open", L"SMS files (*.*)", L"*.*"),
              std::optional<std::wstring>(L"/home/u/sms.csv"));
    EXPECT_EQ(owner.ChooseFolder(L"Select backup folder location.", L"/home/u/Backups"),
              std::nullopt);  // nothing queued: cancelled
    const auto calls = host_.ChooserCalls();
    ASSERT_EQ(calls.size(), 2u);
    ChooserRequest file;
    file.kind = ChooserRequest::Kind::OpenFile;
    file.title = L"Open";
    file.filterName = L"SMS files (*.*)";
    file.pattern = L"*.*";
    EXPECT_EQ(calls[0].request, file);
    EXPECT_EQ(calls[0].owner, owner.GetNativeWindow());
    EXPECT_EQ(calls[1].request.kind, ChooserRequest::Kind::Folder);
    EXPECT_EQ(calls[1].request.initial, L"/home/u/Backups");
    // A chooser is modal: the windows take no input while it is open.
    bool ownerTookInput = true;
    host_.SetChooserHandler([&](const ChooserRequest&) {
        ownerTookInput = host_.Click(owner, "okbtn");
        return std::optional<std::wstring>(L"/tmp");
    });
    EXPECT_EQ(owner.ChooseFolder(L"t", L""), std::optional<std::wstring>(L"/tmp"));
    EXPECT_FALSE(ownerTookInput);
    EXPECT_TRUE(owner.IsInputEnabled());
    EXPECT_FALSE(owner.IsClosed());
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
