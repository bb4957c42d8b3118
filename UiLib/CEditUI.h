// A one-line edit: tip text while empty, password masking, a character limit, caret and
// selection, the clipboard (not for passwords), and text from the keyboard or an input method.
// A text wider than the edit scrolls sideways so that the caret stays in view: a text set from
// code (a long folder path) shows its end, where the caret is put.
#pragma once

#include "UiLib/CLabelUI.h"

namespace UiLib {

class CEditUI : public CLabelUI {
  public:
    CEditUI();
    std::string GetClass() const override { return "EditUI"; }
    bool IsFocusable() const override;

    void SetText(const std::wstring& text) override;
    std::wstring GetTipValue() const;
    void SetTipValue(const std::wstring& tip);
    bool IsPasswordMode() const;
    void SetPasswordMode(bool password);
    int GetMaxChar() const;
    void SetMaxChar(int maxChar);
    bool IsReadOnly() const;
    void SetReadOnly(bool readOnly);
    // Caret and selection, in characters.
    int GetCaret() const;
    void SetSel(int start, int end);
    // How far the text is scrolled to the left, in pixels, as last painted (0 when it fits).
    int GetScrollOffset() const;

    // Inserts text at the caret as if typed (replacing the selection, cut at the limit);
    // raises "textchanged" when the text changed.
    void InsertText(const std::wstring& text);

    bool SetAttribute(const std::string& name, const std::string& value) override;
    void DoEvent(TEventUI& event) override;

  protected:
    void PaintStatusImage(Painter& painter) override;
    void PaintText(Painter& painter) override;

  private:
    std::wstring DisplayText() const;
    void DeleteSelection();
    bool HasSelection() const { return selStart_ != caret_; }
    void MoveCaret(int pos, bool extend);
    int IndexAtPoint(Point pt) const;
    Rect TextRect() const;

    std::wstring tipValue_;
    Color tipValueColor_ = 0xFFA8B0B8;
    bool password_ = false;
    int maxChar_ = 255;
    bool readOnly_ = false;
    std::string normalImage_;
    std::string hotImage_;
    std::string focusedImage_;
    std::string disabledImage_;
    Color nativeBkColor_ = 0;
    int caret_ = 0;
    int selStart_ = 0;  // the other end of the selection (== caret_ when none)
    int scrollX_ = 0;   // set when painted; clicks map through it
};

}  // namespace UiLib
