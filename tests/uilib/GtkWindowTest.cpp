// Real windows under Xvfb, driven through the X server (XTest input goes through its grabs as a
// user's would): a modal popup keeps real clicks and the window manager's close from the window
// behind it, the popup menu is an unmanaged window at its point that holds the pointer grab and
// closes on a press outside the program, the native chooser answers with the path, a window is
// brought up from another thread and carries its icons. The menu's screenshot is kept.
#include <gtest/gtest.h>
#include <gtk/gtk.h>

#include <filesystem>
#include <fstream>

#include "UiLib/CMenuElementUI.h"
#include "UiLib/CMenuWindow.h"
#include "platform/Strings.h"
#include "tests/support/TestEnv.h"
#include "tests/uilib/GtkFixture.h"
#include "tests/uilib/XInput.h"

namespace UiLib {
namespace {

using namespace std::chrono_literals;
using uilibtest::Gui;
using uilibtest::SkinWindow;

// Runs `steps` one after another on the GTK loop, `gapMs` apart (time for the server's events to
// come back), also inside modal loops. A step made with Until waits, tick by tick, for what it
// needs (a chooser that has loaded its folder, say) and then acts; after 20 s it acts anyway,
// so that a missing state fails the test instead of hanging it.
class Steps {
  public:
    struct Step {
        // Implicit, so that a plain step is written as its lambda.
        template <typename F>
        requires std::is_void_v<std::invoke_result_t<F&>> Step(F act) : act(std::move(act)) {}
        Step(std::function<bool()> ready, std::function<void()> act)
            : ready(std::move(ready)), act(std::move(act)) {}
        std::function<bool()> ready;
        std::function<void()> act;
    };
    static Step Until(std::function<bool()> ready, std::function<void()> act) {
        return Step(std::move(ready), std::move(act));
    }

    explicit Steps(std::vector<Step> steps, guint gapMs = 200) : steps_(std::move(steps)) {
        id_ = g_timeout_add(gapMs, &Steps::Next, this);
    }
    ~Steps() {
        if (id_ != 0) {
            g_source_remove(id_);
        }
    }
    bool Done() const { return next_ >= steps_.size(); }

  private:
    static gboolean Next(gpointer data) {
        auto* self = static_cast<Steps*>(data);
        if (self->next_ < self->steps_.size()) {
            Step& step = self->steps_[self->next_];
            const auto now = std::chrono::steady_clock::now();
            if (self->waitingSince_ == std::chrono::steady_clock::time_point{}) {
                self->waitingSince_ = now;
            }
            if (!step.ready || step.ready() ||
                now - self->waitingSince_ > std::chrono::seconds(20)) {
                ++self->next_;
                self->waitingSince_ = {};
                step.act();
            }
        }
        if (self->Done()) {
            self->id_ = 0;
            return G_SOURCE_REMOVE;
        }
        return G_SOURCE_CONTINUE;
    }
    std::vector<Step> steps_;
    size_t next_ = 0;
    std::chrono::steady_clock::time_point waitingSince_{};
    guint id_ = 0;
};

Point ScreenCentre(WindowImplBase& w, const char* control) {
    w.GetPaintManager().UpdateLayout();
    const Rect rc = w.GetPaintManager().FindControl(control)->GetPos();
    return w.ClientToScreen({(rc.left + rc.right) / 2, (rc.top + rc.bottom) / 2});
}

class MainWindow : public SkinWindow {
  public:
    MainWindow() : SkinWindow("xml\\skin.xml") {}
    std::vector<CloseOrigin> closeAsks;
    std::vector<UINT> messages;
    bool refuse = true;

  protected:
    bool QueryClose(UINT, CloseOrigin origin) override {
        closeAsks.push_back(origin);
        return !refuse;
    }
    LRESULT HandleMessage(UINT msg, WPARAM w, LPARAM l) override {
        if (msg >= WM_USER) {
            messages.push_back(msg);
            return 0;
        }
        return SkinWindow::HandleMessage(msg, w, l);
    }
};

class GtkWindows : public Gui {
  protected:
    void SetUp() override {
        Gui::SetUp();
        if (IsSkipped()) {
            return;
        }
        main_ = std::make_unique<MainWindow>();
        ASSERT_NE(main_->Create(nullptr, "Tolvane", 40, 40, 0, 0), 0u);
        main_->GetPaintManager().Bind("BtnMenu", "click",
                                      CDelegate([this](TNotifyUI&) { ++menuClicks_; }));
        main_->ShowWindow(true);
        ASSERT_TRUE(Spin([&] { return GtkHost::HasBeenDrawn(main_->GetNativeWindow()); }));
        Spin([] { return false; }, 200ms);
    }
    void TearDown() override {
        if (main_) {
            main_->refuse = false;
            main_->Close(IDOK);
            Spin([&] { return main_->IsClosed(); });
        }
    }
    std::unique_ptr<MainWindow> main_;
    int menuClicks_ = 0;
};

TEST_F(GtkWindows, AModalPopupKeepsRealClicksAndTheWindowManagersCloseFromTheWindowBehind) {
    // The real path works: a click through the server reaches the button.
    const Point menuButton = ScreenCentre(*main_, "BtnMenu");
    uilibtest::x::Click(menuButton.x, menuButton.y);
    ASSERT_TRUE(Spin([&] { return menuClicks_ == 1; }, 2s));

    SkinWindow question("xml\\MessageBox_Question.xml");
    question.CreatePopup(main_.get(), 500, 220);
    int clicksDuringRun = -1;
    size_t asksDuringRun = 99;
    Steps steps({
        [&] { uilibtest::x::Click(menuButton.x, menuButton.y); },
        [&] { GtkHost::SendCloseRequest(main_->GetNativeWindow()); },
        [&] {
            clicksDuringRun = menuClicks_;
            asksDuringRun = main_->closeAsks.size();
            const Point ok = ScreenCentre(question, "okbtn");
            uilibtest::x::Click(ok.x, ok.y);
        },
    });
    EXPECT_EQ(question.ShowModal(), static_cast<UINT>(IDOK));
    EXPECT_EQ(clicksDuringRun, 1);
    EXPECT_EQ(asksDuringRun, 0u);
    EXPECT_FALSE(main_->IsClosed());

    // Afterwards the window takes input again, and it refuses the window manager's close.
    Spin([] { return false; }, 200ms);
    uilibtest::x::Click(menuButton.x, menuButton.y);
    EXPECT_TRUE(Spin([&] { return menuClicks_ == 2; }, 2s));
    GtkHost::SendCloseRequest(main_->GetNativeWindow());
    EXPECT_TRUE(Spin([&] { return !main_->closeAsks.empty(); }, 2s));
    EXPECT_EQ(main_->closeAsks, std::vector<CloseOrigin>{CloseOrigin::System});
    EXPECT_FALSE(main_->IsClosed());
}

class AssistMenu : public CMenuWindow {
  public:
    explicit AssistMenu(bool* deleted) : deleted_(deleted) {}
    ~AssistMenu() override { *deleted_ = true; }

  protected:
    void OnMenuItemClick(CMenuElementUI* item) override {
        if (item->GetName() == "item_settings") {
            PostToOwner(WM_USER + 3);
        }
    }

  private:
    bool* deleted_;
};

TEST_F(GtkWindows, TheMenuIsARealPopupAtItsPointClosedByAPressOutsideTheProgram) {
    CControlUI* button = main_->GetPaintManager().FindControl("BtnMenu");
    const Rect rc = button->GetPos();
    const Point at = main_->ClientToScreen({rc.left, rc.bottom});
    bool deleted = false;
    auto open = [&] {
        deleted = false;
        auto* menu = new AssistMenu(&deleted);
        EXPECT_TRUE(menu->Init(main_.get(), "xml\\menu_assist.xml", at, button));
        EXPECT_TRUE(Spin([&] { return GtkHost::HasBeenDrawn(menu->GetNativeWindow()); }));
        Spin([] { return false; }, 150ms);
        return menu;
    };

    AssistMenu* menu = open();
    const auto facts = uilibtest::x::Facts(GtkHost::XWindowId(menu->GetNativeWindow()));
    EXPECT_TRUE(facts.viewable);
    EXPECT_TRUE(facts.overrideRedirect);
    EXPECT_EQ(facts.x, at.x);
    EXPECT_EQ(facts.y, at.y);
    // Hover an item; the screen shows what the menu paints.
    const Point help = ScreenCentre(*menu, "item_help");
    uilibtest::x::MovePointer(help.x, help.y);
    Spin([] { return false; }, 250ms);
    cairo_surface_t* screen = GtkHost::Screenshot(menu->GetNativeWindow());
    ASSERT_NE(screen, nullptr);
    cairo_surface_t* painted = menu->GetPaintManager().RenderToSurface();
    EXPECT_EQ(cairo_image_surface_get_width(screen), cairo_image_surface_get_width(painted));
    EXPECT_EQ(cairo_image_surface_get_height(screen), cairo_image_surface_get_height(painted));
    cairo_surface_write_to_png(screen, (uilibtest::ArtifactDir() / "menu-hover.png").c_str());
    cairo_surface_destroy(painted);
    cairo_surface_destroy(screen);
    if (GdkWindow* root = gdk_get_default_root_window()) {
        if (GdkPixbuf* shot = gdk_pixbuf_get_from_window(root, 0, 0, 1000, 720)) {
            gdk_pixbuf_save(shot, (uilibtest::ArtifactDir() / "menu-open.png").c_str(), "png",
                            nullptr, nullptr);
            g_object_unref(shot);
        }
    }
    // A press on the empty desktop reaches the menu only through its grab.
    uilibtest::x::Click(1200, 1000);
    EXPECT_TRUE(Spin([&] { return deleted; }, 2s));
    EXPECT_EQ(menuClicks_, 0);

    // A press in the main window closes it and is not a click there.
    open();
    const Point menuButton = ScreenCentre(*main_, "BtnMenu");
    uilibtest::x::Click(menuButton.x, menuButton.y);
    EXPECT_TRUE(Spin([&] { return deleted; }, 2s));
    Spin([] { return false; }, 100ms);
    EXPECT_EQ(menuClicks_, 0);

    // Escape from the keyboard closes it.
    open();
    uilibtest::x::PressKey("Escape");
    EXPECT_TRUE(Spin([&] { return deleted; }, 2s));
    EXPECT_FALSE(main_->IsClosed());

    // An item posts its message to the owner, and the menu goes.
    menu = open();
    const Point settings = ScreenCentre(*menu, "item_settings");
    uilibtest::x::Click(settings.x, settings.y);
    EXPECT_TRUE(Spin([&] { return deleted && !main_->messages.empty(); }, 2s));
    EXPECT_EQ(main_->messages, std::vector<UINT>{WM_USER + 3});
    // The pointer is the program's again: the button takes a click.
    Spin([] { return false; }, 100ms);
    uilibtest::x::Click(menuButton.x, menuButton.y);
    EXPECT_TRUE(Spin([&] { return menuClicks_ == 1; }, 2s));
}

// The chooser's own dialog, found among the program's windows.
GtkFileChooser* OpenChooser() {
    GtkFileChooser* found = nullptr;
    GList* all = gtk_window_list_toplevels();
    for (GList* l = all; l != nullptr; l = l->next) {
        if (GTK_IS_FILE_CHOOSER_DIALOG(l->data) && gtk_widget_get_visible(GTK_WIDGET(l->data))) {
            found = GTK_FILE_CHOOSER(l->data);
        }
    }
    g_list_free(all);
    return found;
}

std::string Take(gchar* s) {
    std::string out = s != nullptr ? s : "";
    g_free(s);
    return out;
}

TEST_F(GtkWindows, TheNativeChoosersAskWhatTheyAreGivenAndAnswerWithThePath) {
    testenv::TempDir dir("uilib-chooser");
    const std::string file = dir / "sms.csv";
    std::ofstream(file) << "x";
    SkinWindow settings("xml\\SettingsWnd.xml");
    settings.CreatePopup(main_.get(), 550, 220);
    settings.ShowWindow(true);

    std::string title;
    std::string folder;
    // The chooser loads its folder after it is shown; the answer is read once it has.
    const auto hasFolder = [] {
        GtkFileChooser* chooser = OpenChooser();
        return chooser != nullptr && !Take(gtk_file_chooser_get_current_folder(chooser)).empty();
    };
    Steps pickFolder({Steps::Until(hasFolder, [&] {
        GtkFileChooser* chooser = OpenChooser();
        ASSERT_NE(chooser, nullptr);
        title = gtk_window_get_title(GTK_WINDOW(chooser));
        folder = Take(gtk_file_chooser_get_current_folder(chooser));
        gtk_dialog_response(GTK_DIALOG(chooser), GTK_RESPONSE_ACCEPT);
    })});
    const auto chosen =
        settings.ChooseFolder(L"Select backup folder location.", platform::AnsiToWide(dir.Path()));
    EXPECT_EQ(title, "Select backup folder location.");
    EXPECT_EQ(folder, dir.Path());
    EXPECT_EQ(chosen, std::optional<std::wstring>(platform::AnsiToWide(dir.Path())));

    std::string filter;
    const auto inFolder = [&] {
        GtkFileChooser* chooser = OpenChooser();
        return chooser != nullptr &&
               Take(gtk_file_chooser_get_current_folder(chooser)) == dir.Path();
    };
    const auto fileSelected = [&] {
        GtkFileChooser* chooser = OpenChooser();
        return chooser != nullptr && Take(gtk_file_chooser_get_filename(chooser)) == file;
    };
    Steps pickFile(
        {Steps::Until([] { return OpenChooser() != nullptr; },
                      [&] {
                          GtkFileChooser* chooser = OpenChooser();
                          filter = gtk_file_filter_get_name(gtk_file_chooser_get_filter(chooser));
                          gtk_file_chooser_set_current_folder(chooser, dir.Path().c_str());
                      }),
         Steps::Until(inFolder,
                      [&] { gtk_file_chooser_select_filename(OpenChooser(), file.c_str()); }),
         Steps::Until(fileSelected, [&] {
             gtk_dialog_response(GTK_DIALOG(OpenChooser()), GTK_RESPONSE_ACCEPT);
         })});
    const auto opened = settings.ChooseFile(L"Open", L"SMS files (*.*)", L"*.*");
    EXPECT_EQ(filter, "SMS files (*.*)");
    EXPECT_EQ(opened, std::optional<std::wstring>(platform::AnsiToWide(file)));

    Steps cancel({Steps::Until(
        [] { return OpenChooser() != nullptr; },
        [&] { gtk_dialog_response(GTK_DIALOG(OpenChooser()), GTK_RESPONSE_CANCEL); })});
    EXPECT_EQ(settings.ChooseFolder(L"t", L""), std::nullopt);
    EXPECT_TRUE(settings.IsInputEnabled());
    settings.Close(IDOK);
    Spin([&] { return settings.IsClosed(); });
}

TEST_F(GtkWindows, AWindowIsBroughtUpFromAnotherThreadAndCarriesItsIcons) {
    SkinWindow notice("xml\\CommonWnd.xml");
    const WindowHandle h = notice.Create(nullptr, "Tolvane", 200, 200, 570, 220);
    ASSERT_TRUE(notice.SetIcon("file='MainWnd.png' source='0,0,28,28'"));
    const unsigned long xid = GtkHost::XWindowId(notice.GetNativeWindow());
    EXPECT_FALSE(uilibtest::x::Facts(xid).viewable);
    std::thread second([h] { EXPECT_TRUE(WindowImplBase::PostBringToFront(h)); });
    second.join();
    EXPECT_TRUE(Spin([&] { return uilibtest::x::Facts(xid).viewable; }, 3s));
    EXPECT_EQ(uilibtest::x::Facts(xid).iconSides, (std::vector<int>{16, 64}));
    notice.Close(IDOK);
    Spin([&] { return notice.IsClosed(); });
}

}  // namespace
}  // namespace UiLib
