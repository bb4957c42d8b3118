// The settings window: the backup folder, picked with the folder chooser or typed.
//
//   CSettingsWnd wnd;
//   wnd.SetMainWnd(main);         // needed: the default folder and userBackupFolder live there
//   wnd.Create(main->GetMainWindow(), 550, 220);
//   wnd.ShowModal();              // 1: the folder was stored; 2: cancelled
//
// "BtnOK" with a folder: the folder is created with its parents unless it exists, checked for
// writing, stored as [Folder] UserFolder of config.ini and given to the main window. A folder
// that is not a full path, cannot be made or cannot be written to is reported and the window
// stays open, so the next backup does not fail far from the cause. "BtnOK" with an empty text
// stores the default folder. "BtnCancel", "closebtn" and Escape end with 2; Enter does nothing.
#pragma once

#include <string>

#include "ui/CPopUpWnd.h"

namespace tolvane {

class CSettingsWnd : public CPopUpWnd {
  public:
    CSettingsWnd();
    std::string GetWindowClassName() const override { return "UISettingsWnd"; }

  protected:
    void OnWindowInit() override;

  private:
    void OnBrowse(UiLib::TNotifyUI& msg);
    void OnOk(UiLib::TNotifyUI& msg);
    void OnCancel(UiLib::TNotifyUI& msg);
    // Tells the user why `folder` cannot be the backup folder (a system error code).
    void ReportUnusableFolder(const std::wstring& folder, int32_t error);
};

}  // namespace tolvane
