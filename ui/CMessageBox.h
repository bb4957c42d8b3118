// The application's message box: a modal skinned window with a title, a text, an icon and "OK"
// (and "Cancel" for the kinds that ask).
//
//   UINT r = CMessageBox::Show(CMessageBox::Information, owner, L"Information",
//                              L"The selected data are backed up completely!", 500, 220);
//
// Show returns 1 when "okbtn" was clicked, 2 for "cancelbtn", "closebtn", Escape or a close by
// the window manager; Enter does nothing. Without a title the kind's title from the "Messages"
// section is used (MSG0401 to MSG0405). The box is created, run and destroyed inside Show.
#pragma once

#include <optional>
#include <string>

#include "UiLib/WindowImplBase.h"

namespace tolvane {

class CMessageBox : public UiLib::WindowImplBase {
  public:
    enum Kind { Error = 0, Confirm = 1, Information = 2, Warning = 3, Question = 4 };

    static UiLib::UINT Show(Kind kind, UiLib::WindowImplBase* owner,
                            const std::optional<std::wstring>& title, const std::wstring& text,
                            int width = 500, int height = 220);

    // The layout of a kind ("MessageBox_Information.xml") and the "Messages" key of its title.
    static std::string LayoutOf(Kind kind);
    static std::wstring TitleKeyOf(Kind kind);

    explicit CMessageBox(Kind kind);
    std::string GetSkinFile() override;
    std::string GetWindowClassName() const override { return "UIMessageBox"; }

  protected:
    void InitWindow() override;

  private:
    Kind kind_;
};

}  // namespace tolvane
