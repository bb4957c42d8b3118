// uilib-preview LAYOUT [--insert ELEMENT=CONTAINER]... [--select TAB=INDEX]...
//               [--text CONTROL=TEXT]... [--state STYLE=CONTROL]... [--scale S] [--size WxH]
//               -o out.png
//
// Renders a layout of the embedded skin through the offscreen host. LAYOUT is a file of the
// archive ("skin.xml", "xml/skin.xml" or "xml\\skin.xml"). --state applies a named style of the
// layout to one control before painting (repeatable); --insert builds an element layout (the
// phone card, a list item) for the window and adds it to a container; --select shows a page of a
// tab layout; --text sets a control's text; --scale paints at another scale (2 for
// 200 %); --size replaces the layout's size. Faults of the skin are printed; the exit code is 0
// when the picture was written, 1 otherwise, 2 for bad arguments.
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "UiLib/CContainerUI.h"
#include "UiLib/CControlUI.h"
#include "UiLib/CDialogBuilder.h"
#include "UiLib/CTabLayoutUI.h"
#include "UiLib/Diagnostics.h"
#include "UiLib/OffscreenHost.h"
#include "UiLib/ResourceArchive.h"
#include "UiLib/Values.h"
#include "UiLib/WindowImplBase.h"
#include "platform/Strings.h"
#include "skin/Skin.h"

namespace {

class PreviewWindow : public UiLib::WindowImplBase {
  public:
    explicit PreviewWindow(std::string layout) : layout_(std::move(layout)) {}
    std::string GetSkinFile() override { return layout_; }
    std::string GetWindowClassName() const override { return "UiLibPreview"; }

  private:
    std::string layout_;
};

int Usage() {
    std::fprintf(stderr,
                 "usage: uilib-preview LAYOUT [--insert ELEMENT=CONTAINER] [--select TAB=INDEX]\n"
                 "                     [--text CONTROL=TEXT] [--state STYLE=CONTROL] [--scale S]\n"
                 "                     [--size WxH] -o out.png\n");
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    std::string layout;
    std::string out;
    std::vector<std::pair<std::string, std::string>> steps;  // in command-line order
    double scale = 1.0;
    int width = 0;
    int height = 0;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        const bool step =
            arg == "--state" || arg == "--insert" || arg == "--select" || arg == "--text";
        if ((arg == "-o" || step || arg == "--scale" || arg == "--size") && i + 1 >= argc) {
            return Usage();
        }
        if (arg == "-o") {
            out = argv[++i];
        } else if (step) {
            steps.emplace_back(arg, argv[++i]);
        } else if (arg == "--scale") {
            scale = std::atof(argv[++i]);
        } else if (arg == "--size") {
            const std::string v = argv[++i];
            const size_t x = v.find('x');
            auto w = UiLib::ParseInt(v.substr(0, x));
            auto h = x == std::string::npos ? std::nullopt : UiLib::ParseInt(v.substr(x + 1));
            if (!w || !h) {
                return Usage();
            }
            width = *w;
            height = *h;
        } else if (layout.empty()) {
            layout = arg;
        } else {
            return Usage();
        }
    }
    if (layout.empty() || out.empty() || scale <= 0 || scale > 8) {
        return Usage();
    }
    if (layout.find('/') == std::string::npos && layout.find('\\') == std::string::npos) {
        layout = "xml/" + layout;
    }
    tolvane::skin::RegisterSkin();
    if (!UiLib::CResourceArchive::UseResource(tolvane::skin::kResourceId,
                                              tolvane::skin::kResourceType)) {
        return 1;
    }
    UiLib::OffscreenHost host;
    PreviewWindow window(layout);
    if (window.Create(nullptr, "", 0, 0, width, height) == 0) {
        return 1;
    }
    host.PumpMessages();
    UiLib::CPaintManagerUI& pm = window.GetPaintManager();
    for (const auto& [what, value] : steps) {
        const size_t eq = value.find('=');
        if (eq == std::string::npos) {
            std::fprintf(stderr, "%s %s: give NAME=VALUE\n", what.c_str(), value.c_str());
            return 2;
        }
        const std::string left = value.substr(0, eq);
        const std::string right = value.substr(eq + 1);
        const std::string target = what == "--state" ? right : (what == "--insert" ? right : left);
        UiLib::CControlUI* control = pm.FindControl(target);
        if (control == nullptr) {
            std::fprintf(stderr, "no control named %s\n", target.c_str());
            return 1;
        }
        if (what == "--state") {
            control->SetStyle(left);
        } else if (what == "--text") {
            control->SetText(platform::AnsiToWide(right));
        } else if (what == "--select") {
            auto* tabs = dynamic_cast<UiLib::CTabLayoutUI*>(control);
            auto index = UiLib::ParseInt(right);
            if (tabs == nullptr || !index || !tabs->SelectItem(*index)) {
                std::fprintf(stderr, "cannot select page %s of %s\n", right.c_str(), left.c_str());
                return 1;
            }
        } else {
            UiLib::CContainerUI* container = control->AsContainer();
            std::string element = left;
            if (element.find('/') == std::string::npos && element.find('\\') == std::string::npos) {
                element = "xml/" + element;
            }
            UiLib::CControlUI* built = UiLib::CDialogBuilder().Create(element, &pm);
            if (container == nullptr || built == nullptr) {
                delete built;
                std::fprintf(stderr, "cannot insert %s into %s\n", left.c_str(), right.c_str());
                return 1;
            }
            container->Add(built);
        }
    }
    host.PumpMessages();
    if (!host.SavePng(window, out, scale)) {
        std::fprintf(stderr, "cannot write %s\n", out.c_str());
        return 1;
    }
    return 0;
}
