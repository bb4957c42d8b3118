// The small skin and the window class the offscreen window tests share: a dialog with a caption,
// edits, buttons and a GIF button, a menu with a sub-item, and a logo picture in two densities.
#pragma once

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "UiLib/OffscreenHost.h"
#include "UiLib/WindowImplBase.h"
#include "skin/Skin.h"
#include "tests/uilib/TestArchive.h"

namespace uilibtest {

// The spinner of the product's skin (its frames are what the GIF test counts on).
inline std::string SkinGif() {
    auto archive = UiLib::CResourceArchive::Open(tolvane::skin::ArchiveBytes());
    auto bytes = archive->Read("connecting.gif");
    return bytes ? std::string(bytes->begin(), bytes->end()) : std::string();
}

inline const std::map<std::string, std::string>& WindowFiles() {
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
              <Button name="cancelbtn" height="30" text="Cancel" />
            </VerticalLayout></Window>)"},
        {"xml/menu.xml", R"(<Window size="150,400"><Menu name="menu_assist" inset="0,2,0,2">
              <MenuElement name="item_settings" text="Settings" height="30" />
              <MenuElement name="item_language" text="Language" height="30">
                <MenuElement name="lang_en" text="English" height="30" />
                <MenuElement name="lang_fr" text="French" height="30" />
              </MenuElement>
              <MenuElement name="item_hidden" height="30" visible="false" />
            </Menu></Window>)"},
        {"spin.gif", SkinGif()},
        {"logo.png", MakePng(28, 28,
                             [](cairo_t* cr) {
                                 cairo_set_source_rgb(cr, 1, 0, 0);
                                 cairo_paint(cr);
                             })},
        {"logo@2x.png", MakePng(56, 56,
                                [](cairo_t* cr) {
                                    cairo_set_source_rgb(cr, 0, 0, 1);
                                    cairo_paint(cr);
                                })},
    };
    return files;
}

// A window of the dialog layout that records what reaches it.
class TestWindow : public UiLib::WindowImplBase {
  public:
    std::string GetSkinFile() override { return "xml\\dlg.xml"; }
    std::string GetWindowClassName() const override { return "UITestWnd"; }
    std::vector<std::string> events;
    std::vector<UiLib::UINT> messages;
    std::vector<UiLib::CloseOrigin> closeAsks;
    bool swallowKeys = false;
    bool refuseSystemClose = false;

  protected:
    void InitWindow() override { events.push_back("init"); }
    void HandleNotify(UiLib::TNotifyUI& msg) override {
        events.push_back(msg.sType + ":" + (msg.pSender ? msg.pSender->GetName() : ""));
        WindowImplBase::HandleNotify(msg);
    }
    UiLib::LRESULT HandleMessage(UiLib::UINT msg, UiLib::WPARAM wParam,
                                 UiLib::LPARAM lParam) override {
        if (msg >= UiLib::WM_USER || msg == UiLib::WM_NCLBUTTONDBLCLK) {
            messages.push_back(msg);
        }
        if (msg >= UiLib::WM_USER) {
            return 0;
        }
        return WindowImplBase::HandleMessage(msg, wParam, lParam);
    }
    UiLib::LRESULT MessageHandler(UiLib::UINT msg, UiLib::WPARAM wParam, UiLib::LPARAM lParam,
                                  bool& handled) override {
        if (swallowKeys && msg == UiLib::WM_KEYDOWN &&
            (wParam == UiLib::VK_RETURN || wParam == UiLib::VK_ESCAPE)) {
            handled = true;
            return 0;
        }
        return WindowImplBase::MessageHandler(msg, wParam, lParam, handled);
    }
    bool QueryClose(UiLib::UINT /*result*/, UiLib::CloseOrigin origin) override {
        closeAsks.push_back(origin);
        return !(refuseSystemClose && origin == UiLib::CloseOrigin::System);
    }
};

class WindowTestBase : public ::testing::Test {
  protected:
    ScopedArchive archive_{WindowFiles()};
    UiLib::OffscreenHost host_;
};

}  // namespace uilibtest
