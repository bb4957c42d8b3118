// Drawing primitives of the controls on a cairo context: colours, borders, image description
// strings (source, dest, nine-slice corners, mask, fade, hole, tiling) and text through pango
// (alignment, end ellipsis, word wrap, and the {f n}{u}{b}{i}{c} markup of showhtml buttons).
#pragma once

#include <cairo.h>

#include <string>

#include "UiLib/ImageString.h"
#include "UiLib/UiTypes.h"

namespace UiLib {

class CPaintManagerUI;
struct FontInfo;

class Painter {
  public:
    // `manager` provides the fonts; it may be null (then every index is the default font).
    Painter(cairo_t* cr, const CPaintManagerUI* manager);
    cairo_t* Cairo() const { return cr_; }

    void FillRect(const Rect& rc, Color color);
    // A frame of `size` pixels inside `rc`.
    void DrawBorder(const Rect& rc, int size, Color color);
    // Draws an image string into a control's rectangle; false when nothing could be drawn (the
    // string is malformed in a way that leaves no picture, or the picture is missing).
    bool DrawImage(const Rect& rcControl, const std::string& imageString);
    bool DrawImage(const Rect& rcControl, const ImageDescription& image);
    // A whole surface scaled into `dest`.
    void DrawSurface(cairo_surface_t* surface, const Rect& dest);
    // `style` is a mix of the DT_* flags of CControlUI.h; `html` reads the {..} markup.
    void DrawText(const Rect& rc, const std::wstring& text, int font, Color color, uint32_t style,
                  bool html = false);
    // The size the text needs within `width` (0: unbounded).
    Size MeasureText(const std::wstring& text, int font, int width, uint32_t style,
                     bool html = false);

    void PushClip(const Rect& rc);
    void PopClip();

    // The markup of showhtml texts turned into pango markup (exposed for tests).
    static std::string HtmlToPangoMarkup(const std::wstring& text, const CPaintManagerUI* manager);
    static std::string FontDescriptionString(const FontInfo& font);

  private:
    cairo_t* cr_;
    const CPaintManagerUI* manager_;
};

}  // namespace UiLib
