#include "UiLib/GtkHost.h"

#include <gtk/gtk.h>
#ifdef GDK_WINDOWING_X11
#include <X11/Xlib.h>
#include <gdk/gdkx.h>
#endif

#include <atomic>
#include <cstring>
#include <mutex>

#include "UiLib/Diagnostics.h"
#include "UiLib/WindowImplBase.h"
#include "platform/Strings.h"

namespace UiLib {
namespace {

// What other threads may reach of a window: its widget, while it exists.
struct SharedWidget {
    std::mutex mutex;
    GtkWidget* widget = nullptr;
    bool redrawPending = false;
};

uint32_t Modifiers(guint state) {
    uint32_t m = 0;
    if ((state & GDK_SHIFT_MASK) != 0) {
        m |= kModShift;
    }
    if ((state & GDK_CONTROL_MASK) != 0) {
        m |= kModControl;
    }
    return m;
}

// GDK key values to the virtual keys the framework handles; 0 for others.
WPARAM VirtualKey(guint keyval) {
    switch (keyval) {
        case GDK_KEY_Return:
        case GDK_KEY_KP_Enter:
            return VK_RETURN;
        case GDK_KEY_Escape:
            return VK_ESCAPE;
        case GDK_KEY_BackSpace:
            return VK_BACK;
        case GDK_KEY_Delete:
        case GDK_KEY_KP_Delete:
            return VK_DELETE;
        case GDK_KEY_Left:
        case GDK_KEY_KP_Left:
            return VK_LEFT;
        case GDK_KEY_Right:
        case GDK_KEY_KP_Right:
            return VK_RIGHT;
        case GDK_KEY_Up:
            return VK_UP;
        case GDK_KEY_Down:
            return VK_DOWN;
        case GDK_KEY_Home:
        case GDK_KEY_KP_Home:
            return VK_HOME;
        case GDK_KEY_End:
        case GDK_KEY_KP_End:
            return VK_END;
        case GDK_KEY_Tab:
        case GDK_KEY_ISO_Left_Tab:
            return VK_TAB;
        default:
            break;
    }
    const guint upper = gdk_keyval_to_upper(keyval);
    if (upper >= 'A' && upper <= 'Z') {
        return upper;
    }
    return 0;
}

class GtkNativeWindow : public INativeWindow {
  public:
    GtkNativeWindow(WindowImplBase* owner, const NativeWindowParams& params,
                    std::function<void(cairo_t*, Size)> paint = nullptr)
        : window_(owner), paint_(std::move(paint)), shared_(std::make_shared<SharedWidget>()) {
        // A popup menu is placed by us, not by the window manager, and has no frame.
        popupMenu_ = params.popupMenu;
        widget_ = gtk_window_new(params.popupMenu ? GTK_WINDOW_POPUP : GTK_WINDOW_TOPLEVEL);
        GtkWindow* w = GTK_WINDOW(widget_);
        gtk_window_set_title(w, params.title.c_str());
        gtk_window_set_decorated(w, FALSE);
        gtk_window_set_resizable(w, FALSE);
        gtk_widget_set_app_paintable(widget_, TRUE);
        if (params.toolWindow || params.popupMenu) {
            gtk_window_set_skip_taskbar_hint(w, TRUE);
            gtk_window_set_type_hint(w, params.popupMenu ? GDK_WINDOW_TYPE_HINT_POPUP_MENU
                                                         : GDK_WINDOW_TYPE_HINT_DIALOG);
        }
        if (params.transparent || paint_) {
            GdkScreen* screen = gtk_widget_get_screen(widget_);
            if (GdkVisual* rgba = gdk_screen_get_rgba_visual(screen)) {
                gtk_widget_set_visual(widget_, rgba);
            }
        }
        if (params.owner != nullptr) {
            auto* ownerNative = static_cast<GtkNativeWindow*>(params.owner);
            gtk_window_set_transient_for(w, GTK_WINDOW(ownerNative->widget_));
        }
        area_ = gtk_drawing_area_new();
        gtk_widget_set_can_focus(area_, TRUE);
        gtk_widget_add_events(area_, GDK_POINTER_MOTION_MASK | GDK_BUTTON_PRESS_MASK |
                                         GDK_BUTTON_RELEASE_MASK | GDK_LEAVE_NOTIFY_MASK |
                                         GDK_SCROLL_MASK | GDK_KEY_PRESS_MASK |
                                         GDK_FOCUS_CHANGE_MASK);
        gtk_container_add(GTK_CONTAINER(widget_), area_);
        bounds_ = params.bounds;
        gtk_widget_set_size_request(area_, bounds_.Width(), bounds_.Height());
        gtk_window_move(w, bounds_.left, bounds_.top);
        gtk_window_resize(w, bounds_.Width(), bounds_.Height());

        im_ = gtk_im_multicontext_new();
        g_signal_connect(im_, "commit", G_CALLBACK(OnCommit), this);
        g_signal_connect(area_, "draw", G_CALLBACK(OnDraw), this);
        g_signal_connect(area_, "motion-notify-event", G_CALLBACK(OnMotion), this);
        g_signal_connect(area_, "leave-notify-event", G_CALLBACK(OnLeave), this);
        g_signal_connect(area_, "button-press-event", G_CALLBACK(OnButtonPress), this);
        g_signal_connect(area_, "button-release-event", G_CALLBACK(OnButtonRelease), this);
        g_signal_connect(area_, "scroll-event", G_CALLBACK(OnScroll), this);
        g_signal_connect(area_, "key-press-event", G_CALLBACK(OnKeyPress), this);
        g_signal_connect(widget_, "focus-in-event", G_CALLBACK(OnFocusIn), this);
        g_signal_connect(widget_, "focus-out-event", G_CALLBACK(OnFocusOut), this);
        g_signal_connect(widget_, "delete-event", G_CALLBACK(OnDelete), this);
        g_signal_connect(widget_, "configure-event", G_CALLBACK(OnConfigure), this);
        g_signal_connect(area_, "grab-broken-event", G_CALLBACK(OnGrabBroken), this);
        g_signal_connect(area_, "map-event", G_CALLBACK(OnMap), this);
        gtk_widget_add_events(area_, GDK_STRUCTURE_MASK);
        gtk_widget_realize(widget_);
        gtk_im_context_set_client_window(im_, gtk_widget_get_window(widget_));
        if (paint_) {
            // The shadow takes no input: clicks go through to what lies below.
            cairo_region_t* empty = cairo_region_create();
            gtk_widget_input_shape_combine_region(widget_, empty);
            cairo_region_destroy(empty);
            gtk_window_set_accept_focus(w, FALSE);
            gtk_window_set_skip_taskbar_hint(w, TRUE);
        }
        std::lock_guard lock(shared_->mutex);
        shared_->widget = widget_;
    }

    ~GtkNativeWindow() override {
        if (grabbed_) {
            GrabPointer(false);
        }
        {
            std::lock_guard lock(shared_->mutex);
            shared_->widget = nullptr;
        }
        if (followHandler_ != 0 && followParent_ != nullptr) {
            g_signal_handler_disconnect(followParent_, followHandler_);
            g_object_remove_weak_pointer(G_OBJECT(followParent_),
                                         reinterpret_cast<gpointer*>(&followParent_));
        }
        gtk_im_context_set_client_window(im_, nullptr);
        g_object_unref(im_);
        gtk_widget_destroy(widget_);
    }

    void Follow(GtkNativeWindow* parent, std::function<void()> follow) {
        follow_ = std::move(follow);
        followParent_ = parent->widget_;
        g_object_add_weak_pointer(G_OBJECT(followParent_),
                                  reinterpret_cast<gpointer*>(&followParent_));
        followHandler_ = g_signal_connect_swapped(followParent_, "configure-event",
                                                  G_CALLBACK(+[](GtkNativeWindow* self) {
                                                      if (self->follow_) {
                                                          self->follow_();
                                                      }
                                                      return FALSE;
                                                  }),
                                                  this);
    }

    void SetBounds(const Rect& rc) override {
        bounds_ = rc;
        gtk_widget_set_size_request(area_, rc.Width(), rc.Height());
        gtk_window_move(GTK_WINDOW(widget_), rc.left, rc.top);
        gtk_window_resize(GTK_WINDOW(widget_), rc.Width(), rc.Height());
        if (window_ != nullptr) {
            window_->HostResize({rc.Width(), rc.Height()});
        }
    }
    Rect GetBounds() const override { return bounds_; }
    void Show(bool show) override {
        if (show) {
            gtk_widget_show_all(widget_);
            if (!paint_) {
                gtk_window_present(GTK_WINDOW(widget_));
                gtk_widget_grab_focus(area_);
            }
        } else {
            gtk_widget_hide(widget_);
        }
    }
    bool IsShown() const override { return gtk_widget_get_visible(widget_) != FALSE; }
    void SetInputEnabled(bool enabled) override { gtk_widget_set_sensitive(widget_, enabled); }
    void SetTitle(const std::string& title) override {
        gtk_window_set_title(GTK_WINDOW(widget_), title.c_str());
    }
    void Invalidate() override {
        std::shared_ptr<SharedWidget> shared = shared_;
        {
            std::lock_guard lock(shared->mutex);
            if (shared->redrawPending || shared->widget == nullptr) {
                return;
            }
            shared->redrawPending = true;
        }
        g_idle_add_full(
            G_PRIORITY_DEFAULT_IDLE,
            [](gpointer data) -> gboolean {
                auto* s = static_cast<std::shared_ptr<SharedWidget>*>(data);
                std::lock_guard lock((*s)->mutex);
                (*s)->redrawPending = false;
                if ((*s)->widget != nullptr) {
                    gtk_widget_queue_draw((*s)->widget);
                }
                return G_SOURCE_REMOVE;
            },
            new std::shared_ptr<SharedWidget>(shared),
            [](gpointer data) { delete static_cast<std::shared_ptr<SharedWidget>*>(data); });
    }
    void BeginMoveDrag(Point screen) override {
        gtk_window_begin_move_drag(GTK_WINDOW(widget_), 1, screen.x, screen.y, GDK_CURRENT_TIME);
    }
    void Present() override {
        gtk_widget_show_all(widget_);
        GtkWindow* w = GTK_WINDOW(widget_);
        gtk_window_deiconify(w);
        guint32 time = GDK_CURRENT_TIME;
#ifdef GDK_WINDOWING_X11
        // A request from another process comes without a user event: the server's time keeps
        // the window manager's focus-stealing prevention from ignoring it.
        if (GdkWindow* gdkWindow = gtk_widget_get_window(widget_);
            gdkWindow != nullptr && GDK_IS_X11_WINDOW(gdkWindow)) {
            time = gdk_x11_get_server_time(gdkWindow);
        }
#endif
        gtk_window_present_with_time(w, time);
        if (!paint_) {
            gtk_widget_grab_focus(area_);
        }
    }
    void SetModal(bool modal) override {
        gtk_window_set_modal(GTK_WINDOW(widget_), modal);
    }
    void SetIcon(cairo_surface_t* small, cairo_surface_t* large) override {
        GList* list = nullptr;
        for (cairo_surface_t* s : {small, large}) {
            if (s == nullptr) {
                continue;
            }
            if (GdkPixbuf* pixbuf = gdk_pixbuf_get_from_surface(
                    s, 0, 0, cairo_image_surface_get_width(s), cairo_image_surface_get_height(s))) {
                list = g_list_append(list, pixbuf);
            }
        }
        gtk_window_set_icon_list(GTK_WINDOW(widget_), list);
        g_list_free_full(list, g_object_unref);
    }
    bool GrabPointer(bool grab) override {
        GdkSeat* seat = gdk_display_get_default_seat(gtk_widget_get_display(widget_));
        if (!grab) {
            wantGrab_ = false;
            if (grabbed_) {
                gdk_seat_ungrab(seat);
                grabbed_ = false;
            }
            return true;
        }
        wantGrab_ = true;
        GdkWindow* target = gtk_widget_get_window(area_);
        if (target == nullptr || gdk_window_is_viewable(target) == FALSE) {
            return true;  // taken when the window is mapped (OnMap)
        }
        // Owner events: presses in the program's own windows go to them (the framework closes
        // the menu there); presses anywhere else arrive here, outside the menu.
        grabbed_ = gdk_seat_grab(seat, target, GDK_SEAT_CAPABILITY_ALL, TRUE, nullptr, nullptr,
                                 nullptr, nullptr) == GDK_GRAB_SUCCESS;
        return grabbed_;
    }
    void SetTextCursor(const Rect& rc) override {
        GdkRectangle r{rc.left, rc.top, rc.Width(), rc.Height()};
        gtk_im_context_set_cursor_location(im_, &r);
    }

    GtkWidget* Widget() const {
        return widget_;
    }
    GtkWidget* Area() const {
        return area_;
    }
    bool drawn = false;

  private:
    static gboolean OnDraw(GtkWidget* area, cairo_t* cr, GtkNativeWindow* self) {
        self->drawn = true;
        const Size size{gtk_widget_get_allocated_width(area),
                        gtk_widget_get_allocated_height(area)};
        if (self->paint_) {
            self->paint_(cr, size);
            return TRUE;
        }
        if (self->window_ != nullptr) {
            self->window_->HostResize(size);
            self->window_->HostPaint(cr);
        }
        return TRUE;
    }
    static gboolean OnMotion(GtkWidget*, GdkEventMotion* e, GtkNativeWindow* self) {
        if (self->window_ != nullptr) {
            self->window_->HostMouseMove({static_cast<int>(e->x), static_cast<int>(e->y)});
        }
        return TRUE;
    }
    static gboolean OnLeave(GtkWidget*, GdkEventCrossing*, GtkNativeWindow* self) {
        if (self->window_ != nullptr) {
            self->window_->HostMouseLeave();
        }
        return TRUE;
    }
    static gboolean OnButtonPress(GtkWidget*, GdkEventButton* e, GtkNativeWindow* self) {
        if (e->button != 1 || self->window_ == nullptr || e->type == GDK_3BUTTON_PRESS) {
            return TRUE;
        }
        gtk_widget_grab_focus(self->area_);
        const Point pt{static_cast<int>(e->x), static_cast<int>(e->y)};
        if (!self->window_->HostButtonDown(pt, Modifiers(e->state), e->type == GDK_2BUTTON_PRESS) &&
            e->type == GDK_BUTTON_PRESS) {
            gtk_window_begin_move_drag(GTK_WINDOW(self->widget_), 1, static_cast<int>(e->x_root),
                                       static_cast<int>(e->y_root), e->time);
        }
        return TRUE;
    }
    static gboolean OnButtonRelease(GtkWidget*, GdkEventButton* e, GtkNativeWindow* self) {
        if (e->button == 1 && self->window_ != nullptr) {
            self->window_->HostButtonUp({static_cast<int>(e->x), static_cast<int>(e->y)});
        }
        return TRUE;
    }
    static gboolean OnScroll(GtkWidget*, GdkEventScroll* e, GtkNativeWindow* self) {
        if (self->window_ == nullptr) {
            return TRUE;
        }
        const Point pt{static_cast<int>(e->x), static_cast<int>(e->y)};
        if (e->direction == GDK_SCROLL_UP || e->direction == GDK_SCROLL_DOWN) {
            self->window_->HostWheel(pt, e->direction == GDK_SCROLL_UP);
        } else if (e->direction == GDK_SCROLL_SMOOTH && e->delta_y != 0) {
            self->window_->HostWheel(pt, e->delta_y < 0);
        }
        return TRUE;
    }
    static gboolean OnKeyPress(GtkWidget*, GdkEventKey* e, GtkNativeWindow* self) {
        if (self->window_ == nullptr) {
            return FALSE;
        }
        const uint32_t mods = Modifiers(e->state);
        const WPARAM vk = VirtualKey(e->keyval);
        // Text goes through the input method; keys it does not take are ours.
        if ((mods & kModControl) == 0 && gtk_im_context_filter_keypress(self->im_, e)) {
            return TRUE;
        }
        if (vk != 0) {
            self->window_->HostKeyDown(vk, mods);
            return TRUE;
        }
        const gunichar ch = gdk_keyval_to_unicode(e->keyval);
        if (ch >= 0x20 && (mods & kModControl) == 0) {
            char buf[8] = {};
            g_unichar_to_utf8(ch, buf);
            self->window_->HostChar(buf);
        }
        return TRUE;
    }
    static void OnCommit(GtkIMContext*, const gchar* text, GtkNativeWindow* self) {
        if (self->window_ != nullptr && text != nullptr) {
            self->window_->HostChar(text);
        }
    }
    static gboolean OnFocusIn(GtkWidget*, GdkEventFocus*, GtkNativeWindow* self) {
        gtk_im_context_focus_in(self->im_);
        return FALSE;
    }
    static gboolean OnFocusOut(GtkWidget*, GdkEventFocus*, GtkNativeWindow* self) {
        gtk_im_context_focus_out(self->im_);
        if (self->window_ != nullptr) {
            self->window_->HostFocusLost();
        }
        return FALSE;
    }
    static gboolean OnDelete(GtkWidget*, GdkEvent*, GtkNativeWindow* self) {
        if (self->window_ != nullptr) {
            self->window_->HostCloseRequest();
        }
        return TRUE;  // the window decides; GTK does not destroy it
    }
    static gboolean OnGrabBroken(GtkWidget*, GdkEventGrabBroken* e, GtkNativeWindow* self) {
        // Another program (or a window of our own making its grab) took the pointer.
        if (self->grabbed_ && e->grab_window != gtk_widget_get_window(self->area_)) {
            self->grabbed_ = false;
            if (self->window_ != nullptr) {
                self->window_->HostFocusLost();
            }
        }
        return FALSE;
    }
    static gboolean OnMap(GtkWidget*, GdkEvent*, GtkNativeWindow* self) {
        if (self->wantGrab_ && !self->grabbed_) {
            self->GrabPointer(true);
        }
        return FALSE;
    }
    static gboolean OnConfigure(GtkWidget*, GdkEventConfigure* e, GtkNativeWindow* self) {
        self->bounds_ = {e->x, e->y, e->x + e->width, e->y + e->height};
        return FALSE;
    }

    WindowImplBase* window_;
    std::function<void(cairo_t*, Size)> paint_;
    std::shared_ptr<SharedWidget> shared_;
    GtkWidget* widget_ = nullptr;
    GtkWidget* area_ = nullptr;
    GtkIMContext* im_ = nullptr;
    Rect bounds_;
    bool popupMenu_ = false;
    bool wantGrab_ = false;
    bool grabbed_ = false;
    std::function<void()> follow_;
    GtkWidget* followParent_ = nullptr;
    gulong followHandler_ = 0;
};

struct TimerData {
    std::function<void()> fn;
};

}  // namespace

GtkHost::GtkHost() : previous_(IUiHost::Current()) {
    IUiHost::SetCurrent(this);
}

GtkHost::~GtkHost() {
    if (IUiHost::Current() == this) {
        IUiHost::SetCurrent(previous_);
    }
}

std::unique_ptr<GtkHost> GtkHost::Create() {
    if (gtk_init_check(nullptr, nullptr) == FALSE) {
        return nullptr;
    }
    return std::unique_ptr<GtkHost>(new GtkHost());
}

std::unique_ptr<INativeWindow> GtkHost::CreateNativeWindow(WindowImplBase& window,
                                                           const NativeWindowParams& params) {
    return std::make_unique<GtkNativeWindow>(&window, params);
}

void GtkHost::Post(std::function<void()> task) {
    g_idle_add_full(
        G_PRIORITY_DEFAULT,
        [](gpointer data) -> gboolean {
            (*static_cast<std::function<void()>*>(data))();
            return G_SOURCE_REMOVE;
        },
        new std::function<void()>(std::move(task)),
        [](gpointer data) { delete static_cast<std::function<void()>*>(data); });
    g_main_context_wakeup(nullptr);
}

void GtkHost::RunUntil(const std::function<bool()>& done) {
    while (!done()) {
        g_main_context_iteration(nullptr, TRUE);
    }
}

uint64_t GtkHost::AddTimer(std::chrono::milliseconds period, std::function<void()> fn) {
    const guint id = g_timeout_add_full(
        G_PRIORITY_DEFAULT, static_cast<guint>(period.count()),
        [](gpointer data) -> gboolean {
            static_cast<TimerData*>(data)->fn();
            return G_SOURCE_CONTINUE;
        },
        new TimerData{std::move(fn)}, [](gpointer data) { delete static_cast<TimerData*>(data); });
    return id;
}

void GtkHost::RemoveTimer(uint64_t id) {
    if (GSource* source = g_main_context_find_source_by_id(nullptr, static_cast<guint>(id))) {
        g_source_destroy(source);
    }
}

void GtkHost::SetClipboardText(const std::wstring& text) {
    const std::string utf8 = platform::WideToUtf8(text);
    gtk_clipboard_set_text(gtk_clipboard_get(GDK_SELECTION_CLIPBOARD), utf8.c_str(),
                           static_cast<gint>(utf8.size()));
}

std::wstring GtkHost::GetClipboardText() {
    gchar* text = gtk_clipboard_wait_for_text(gtk_clipboard_get(GDK_SELECTION_CLIPBOARD));
    if (text == nullptr) {
        return {};
    }
    std::wstring out = platform::AnsiToWide(text);
    g_free(text);
    return out;
}

namespace {

GtkWindow* ParentOf(INativeWindow* owner) {
    return owner != nullptr ? GTK_WINDOW(static_cast<GtkNativeWindow*>(owner)->Widget()) : nullptr;
}

// The folder itself when it exists, else its nearest existing parent; empty when none.
std::string ExistingFolder(std::string path) {
    while (!path.empty()) {
        if (g_file_test(path.c_str(), G_FILE_TEST_IS_DIR)) {
            return path;
        }
        gchar* parent = g_path_get_dirname(path.c_str());
        std::string next = parent;
        g_free(parent);
        if (next == path) {
            break;
        }
        path = next;
    }
    return {};
}

}  // namespace

std::optional<std::wstring> GtkHost::Choose(INativeWindow* owner, const ChooserRequest& request) {
    const bool folder = request.kind == ChooserRequest::Kind::Folder;
    GtkFileChooserNative* chooser = gtk_file_chooser_native_new(
        platform::WideToUtf8(request.title).c_str(), ParentOf(owner),
        folder ? GTK_FILE_CHOOSER_ACTION_SELECT_FOLDER : GTK_FILE_CHOOSER_ACTION_OPEN, nullptr,
        nullptr);
    GtkFileChooser* fc = GTK_FILE_CHOOSER(chooser);
    gtk_native_dialog_set_modal(GTK_NATIVE_DIALOG(chooser), TRUE);
    gtk_file_chooser_set_local_only(fc, TRUE);
    if (folder) {
        gtk_file_chooser_set_create_folders(fc, FALSE);
    } else if (!request.pattern.empty()) {
        GtkFileFilter* filter = gtk_file_filter_new();
        gtk_file_filter_set_name(filter, platform::WideToUtf8(request.filterName).c_str());
        gtk_file_filter_add_pattern(filter, platform::WideToUtf8(request.pattern).c_str());
        gtk_file_chooser_add_filter(fc, filter);  // takes the filter
    }
    // The folder picker opens inside the given folder, so that choosing at once keeps it.
    const std::string initial = ExistingFolder(platform::WideToUtf8(request.initial));
    if (!initial.empty()) {
        gtk_file_chooser_set_current_folder(fc, initial.c_str());
    }
    std::optional<std::wstring> result;
    if (gtk_native_dialog_run(GTK_NATIVE_DIALOG(chooser)) == GTK_RESPONSE_ACCEPT) {
        if (gchar* path = gtk_file_chooser_get_filename(fc)) {
            result = platform::AnsiToWide(path);
            g_free(path);
        }
    }
    gtk_native_dialog_destroy(GTK_NATIVE_DIALOG(chooser));
    g_object_unref(chooser);
    return result;
}

bool GtkHost::OpenUrl(const std::wstring& url) {
    GError* error = nullptr;
    const gboolean ok = gtk_show_uri_on_window(nullptr, platform::WideToUtf8(url).c_str(),
                                               GDK_CURRENT_TIME, &error);
    if (error != nullptr) {
        ReportFault(std::string("cannot open ") + platform::WideToUtf8(url) + ": " +
                    error->message);
        g_error_free(error);
    }
    return ok != FALSE;
}

std::unique_ptr<INativeWindow> GtkHost::CreateShadowWindow(
    INativeWindow* parent, const std::string& className, std::function<void(cairo_t*, Size)> paint,
    std::function<void()> follow) {
    // Without a compositor a transparent window would paint black: no shadow then.
    if (parent == nullptr || gdk_screen_is_composited(gdk_screen_get_default()) == FALSE) {
        return nullptr;
    }
    NativeWindowParams params;
    params.bounds = parent->GetBounds();
    params.title = className;
    params.transparent = true;
    params.toolWindow = true;
    auto shadow = std::make_unique<GtkNativeWindow>(nullptr, params, std::move(paint));
    shadow->Follow(static_cast<GtkNativeWindow*>(parent), std::move(follow));
    return shadow;
}

Rect GtkHost::ScreenRect() {
    GdkDisplay* display = gdk_display_get_default();
    GdkMonitor* monitor = display != nullptr ? gdk_display_get_primary_monitor(display) : nullptr;
    if (monitor == nullptr && display != nullptr) {
        monitor = gdk_display_get_monitor(display, 0);
    }
    if (monitor == nullptr) {
        return {0, 0, 1280, 1024};
    }
    GdkRectangle area;
    gdk_monitor_get_workarea(monitor, &area);
    return {area.x, area.y, area.x + area.width, area.y + area.height};
}

cairo_surface_t* GtkHost::Screenshot(INativeWindow* window) {
    auto* native = static_cast<GtkNativeWindow*>(window);
    GdkWindow* gdkWindow = native != nullptr ? gtk_widget_get_window(native->Widget()) : nullptr;
    if (gdkWindow == nullptr || gdk_window_is_viewable(gdkWindow) == FALSE) {
        return nullptr;
    }
    const int w = gdk_window_get_width(gdkWindow);
    const int h = gdk_window_get_height(gdkWindow);
    GdkPixbuf* pixbuf = gdk_pixbuf_get_from_window(gdkWindow, 0, 0, w, h);
    if (pixbuf == nullptr) {
        return nullptr;
    }
    cairo_surface_t* surface = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, w, h);
    cairo_t* cr = cairo_create(surface);
    gdk_cairo_set_source_pixbuf(cr, pixbuf, 0, 0);
    cairo_paint(cr);
    cairo_destroy(cr);
    g_object_unref(pixbuf);
    cairo_surface_flush(surface);
    return surface;
}

bool GtkHost::HasBeenDrawn(INativeWindow* window) {
    return window != nullptr && static_cast<GtkNativeWindow*>(window)->drawn;
}

void GtkHost::SendClick(INativeWindow* window, Point pt) {
    auto* native = static_cast<GtkNativeWindow*>(window);
    GdkWindow* target = gtk_widget_get_window(native->Area());
    GdkDevice* pointer =
        gdk_seat_get_pointer(gdk_display_get_default_seat(gdk_display_get_default()));
    for (GdkEventType type : {GDK_BUTTON_PRESS, GDK_BUTTON_RELEASE}) {
        GdkEvent* e = gdk_event_new(type);
        e->button.window = GDK_WINDOW(g_object_ref(target));
        e->button.send_event = TRUE;
        e->button.time = GDK_CURRENT_TIME;
        e->button.x = pt.x;
        e->button.y = pt.y;
        e->button.button = 1;
        gdk_event_set_device(e, pointer);
        gtk_main_do_event(e);
        gdk_event_free(e);
    }
}

void GtkHost::SendKey(INativeWindow* window, unsigned keyval) {
    auto* native = static_cast<GtkNativeWindow*>(window);
    GdkWindow* target = gtk_widget_get_window(native->Widget());
    GdkDevice* keyboard =
        gdk_seat_get_keyboard(gdk_display_get_default_seat(gdk_display_get_default()));
    GdkEvent* e = gdk_event_new(GDK_KEY_PRESS);
    e->key.window = GDK_WINDOW(g_object_ref(target));
    e->key.send_event = TRUE;
    e->key.time = GDK_CURRENT_TIME;
    e->key.keyval = keyval;
    GdkKeymapKey* keys = nullptr;
    gint count = 0;
    if (gdk_keymap_get_entries_for_keyval(gdk_keymap_get_for_display(gdk_display_get_default()),
                                          keyval, &keys, &count) &&
        count > 0) {
        e->key.hardware_keycode = static_cast<guint16>(keys[0].keycode);
    }
    g_free(keys);
    gchar buf[8] = {};
    const gunichar ch = gdk_keyval_to_unicode(keyval);
    if (ch >= 0x20) {
        g_unichar_to_utf8(ch, buf);
    }
    e->key.string = g_strdup(buf);
    e->key.length = static_cast<gint>(std::strlen(buf));
    gdk_event_set_device(e, keyboard);
    // Key events go to the focused widget of the toplevel, as from the keyboard.
    gtk_widget_grab_focus(native->Area());
    gtk_window_present(GTK_WINDOW(native->Widget()));
    gtk_main_do_event(e);
    gdk_event_free(e);
}

void GtkHost::SendCloseRequest(INativeWindow* window) {
    auto* native = static_cast<GtkNativeWindow*>(window);
    GdkWindow* gdkWindow = gtk_widget_get_window(native->Widget());
#ifdef GDK_WINDOWING_X11
    if (gdkWindow != nullptr && GDK_IS_X11_WINDOW(gdkWindow)) {
        Display* display = GDK_WINDOW_XDISPLAY(gdkWindow);
        XEvent e{};
        e.xclient.type = ClientMessage;
        e.xclient.window = GDK_WINDOW_XID(gdkWindow);
        e.xclient.message_type = XInternAtom(display, "WM_PROTOCOLS", False);
        e.xclient.format = 32;
        e.xclient.data.l[0] = static_cast<long>(XInternAtom(display, "WM_DELETE_WINDOW", False));
        e.xclient.data.l[1] = CurrentTime;
        XSendEvent(display, e.xclient.window, False, NoEventMask, &e);
        XFlush(display);
        return;
    }
#endif
    GdkEvent* e = gdk_event_new(GDK_DELETE);
    e->any.window = GDK_WINDOW(g_object_ref(gdkWindow));
    e->any.send_event = TRUE;
    gtk_main_do_event(e);
    gdk_event_free(e);
}

unsigned long GtkHost::XWindowId(INativeWindow* window) {
#ifdef GDK_WINDOWING_X11
    auto* native = static_cast<GtkNativeWindow*>(window);
    GdkWindow* gdkWindow = native != nullptr ? gtk_widget_get_window(native->Widget()) : nullptr;
    if (gdkWindow != nullptr && GDK_IS_X11_WINDOW(gdkWindow)) {
        return GDK_WINDOW_XID(gdkWindow);
    }
#endif
    (void)window;
    return 0;
}

}  // namespace UiLib
