// The base of the application's popup windows (password, settings, notice, viewer and the
// progress windows): a skinned tool window owned by another window, centred on it and run
// modally.
//
// Use, in three calls:
//
//   CDecryptionWnd wnd;                  // construct
//   wnd.SetMainWnd(main); wnd.SetMode(1); // fields, between construction and Create
//   wnd.Create(owner, 500, 240);          // owner window, width, height
//   UINT r = wnd.ShowModal();             // the wParam of the WM_CLOSE that ended it
//   ...read results (GetPassword)...     // then destroy it: delete it or let it go out of scope
//
// Clicks that the popup does not handle itself: "okbtn" closes with 1, "cancelbtn" and
// "closebtn" with 2. Escape and Enter close nothing unless a popup asks for it. On "windowinit"
// the base loads the "Messages" texts, applies the window's own language section (named after
// its layout) and then calls OnWindowInit.
#pragma once

#include <map>
#include <string>

#include "UiLib/WindowImplBase.h"

namespace tolvane {

class AppSettings;
class IMainWnd;

class CPopUpWnd : public UiLib::WindowImplBase {
  public:
    // `skinFile` is the layout ("xml\\DecryptionWnd.xml").
    explicit CPopUpWnd(std::string skinFile);
    ~CPopUpWnd() override;

    // The owning main window, where the popup needs it (the password and settings windows).
    void SetMainWnd(IMainWnd* mainWnd) { mainWnd_ = mainWnd; }
    IMainWnd* GetMainWnd() const { return mainWnd_; }

    // Creates the popup owned by `owner` (may be null: centred on the screen) with the given
    // size, centred on its owner. Returns the window's handle, 0 without a window host.
    UiLib::WindowHandle Create(UiLib::WindowImplBase* owner, int width, int height);

    std::string GetSkinFile() override { return skinFile_; }
    std::string GetWindowClassName() const override { return "UIPopUpWnd"; }
    // The section of the language file for this window: the layout's file name without its
    // folder and ".xml" ("DecryptionWnd").
    virtual std::string GetLanguageSection() const;

    // The text of a key of the "Messages" section, or `fallback` when the language file lacks it
    // (available from "windowinit" on).
    std::wstring Message(const std::wstring& key, const std::wstring& fallback) const;

  protected:
    // After the language texts, on "windowinit".
    virtual void OnWindowInit() {}
    void HandleNotify(UiLib::TNotifyUI& msg) override;
    const AppSettings& Settings() const;

  private:
    std::string skinFile_;
    IMainWnd* mainWnd_ = nullptr;
    std::map<std::wstring, std::wstring> messages_;
};

}  // namespace tolvane
