#include "UiLib/Painter.h"

#include <glib.h>
#include <pango/pangocairo.h>

#include <algorithm>
#include <cmath>
#include <vector>

#include "UiLib/CControlUI.h"
#include "UiLib/CImageCache.h"
#include "UiLib/CPaintManagerUI.h"
#include "UiLib/Diagnostics.h"
#include "UiLib/Values.h"
#include "platform/Strings.h"

namespace UiLib {
namespace {

void SetColor(cairo_t* cr, Color c) {
    cairo_set_source_rgba(cr, ColorR(c), ColorG(c), ColorB(c), ColorA(c));
}

std::string Escape(const std::string& text) {
    gchar* e = g_markup_escape_text(text.c_str(), static_cast<gssize>(text.size()));
    std::string out(e);
    g_free(e);
    return out;
}

// Draws the part `src` of the picture into `dst`, stretched or tiled.
// `density` is picture pixels per logical pixel (2 for the "@2x" pictures).
void DrawPart(cairo_t* cr, cairo_surface_t* surface, const Rect& src, const Rect& dst, double alpha,
              bool tileX, bool tileY, int density) {
    if (src.IsEmpty() || dst.IsEmpty()) {
        return;
    }
    cairo_save(cr);
    cairo_rectangle(cr, dst.left, dst.top, dst.Width(), dst.Height());
    cairo_clip(cr);
    cairo_surface_t* part =
        cairo_surface_create_for_rectangle(surface, src.left, src.top, src.Width(), src.Height());
    cairo_pattern_t* pattern = cairo_pattern_create_for_surface(part);
    cairo_matrix_t m;
    const double sx = tileX ? density : static_cast<double>(src.Width()) / dst.Width();
    const double sy = tileY ? density : static_cast<double>(src.Height()) / dst.Height();
    cairo_matrix_init_scale(&m, sx, sy);
    cairo_matrix_translate(&m, -dst.left, -dst.top);
    cairo_pattern_set_matrix(pattern, &m);
    const bool exact = density == 1 && (tileX || src.Width() == dst.Width()) &&
                       (tileY || src.Height() == dst.Height());
    cairo_pattern_set_filter(pattern, exact ? CAIRO_FILTER_NEAREST : CAIRO_FILTER_GOOD);
    cairo_pattern_set_extend(pattern, (tileX || tileY) ? CAIRO_EXTEND_REPEAT : CAIRO_EXTEND_PAD);
    cairo_set_source(cr, pattern);
    if (alpha >= 1.0) {
        cairo_paint(cr);
    } else {
        cairo_paint_with_alpha(cr, alpha);
    }
    cairo_pattern_destroy(pattern);
    cairo_surface_destroy(part);
    cairo_restore(cr);
}

PangoLayout* MakeLayout(cairo_t* cr, const std::wstring& text, const FontInfo& font, int width,
                        uint32_t style, bool html, const CPaintManagerUI* manager) {
    PangoLayout* layout = pango_cairo_create_layout(cr);
    cairo_font_options_t* options = cairo_font_options_create();
    cairo_font_options_set_antialias(options, CAIRO_ANTIALIAS_GRAY);
    cairo_font_options_set_hint_style(options, CAIRO_HINT_STYLE_SLIGHT);
    cairo_font_options_set_hint_metrics(options, CAIRO_HINT_METRICS_ON);
    pango_cairo_context_set_font_options(pango_layout_get_context(layout), options);
    cairo_font_options_destroy(options);
    pango_layout_context_changed(layout);

    const std::string desc = Painter::FontDescriptionString(font);
    PangoFontDescription* fd = pango_font_description_from_string(desc.c_str());
    pango_layout_set_font_description(layout, fd);
    pango_font_description_free(fd);

    if (html) {
        const std::string markup = Painter::HtmlToPangoMarkup(text, manager);
        if (pango_parse_markup(markup.c_str(), -1, 0, nullptr, nullptr, nullptr, nullptr)) {
            pango_layout_set_markup(layout, markup.c_str(), -1);
        } else {
            const std::string plain = platform::WideToUtf8(text);
            pango_layout_set_text(layout, plain.c_str(), -1);
        }
    } else {
        const std::string plain = platform::WideToUtf8(text);
        pango_layout_set_text(layout, plain.c_str(), -1);
    }
    if (font.underline) {
        PangoAttrList* attrs = pango_layout_get_attributes(layout);
        PangoAttrList* own = attrs != nullptr ? pango_attr_list_copy(attrs) : pango_attr_list_new();
        pango_attr_list_insert(own, pango_attr_underline_new(PANGO_UNDERLINE_SINGLE));
        pango_layout_set_attributes(layout, own);
        pango_attr_list_unref(own);
    }
    if (width > 0) {
        pango_layout_set_width(layout, width * PANGO_SCALE);
    }
    if ((style & DT_WORDBREAK) != 0 && (style & DT_SINGLELINE) == 0) {
        pango_layout_set_wrap(layout, PANGO_WRAP_WORD_CHAR);
    } else {
        pango_layout_set_single_paragraph_mode(layout, TRUE);
        if (width > 0 && (style & DT_END_ELLIPSIS) != 0) {
            pango_layout_set_ellipsize(layout, PANGO_ELLIPSIZE_END);
        } else if ((style & DT_SINGLELINE) != 0) {
            // A layout with a width wraps whatever the paragraph mode: one line that does not
            // fit is clipped instead (a long path in an edit), and DrawText aligns it itself.
            pango_layout_set_width(layout, -1);
        }
    }
    PangoAlignment align = PANGO_ALIGN_LEFT;
    if ((style & DT_CENTER) != 0) {
        align = PANGO_ALIGN_CENTER;
    } else if ((style & DT_RIGHT) != 0) {
        align = PANGO_ALIGN_RIGHT;
    }
    pango_layout_set_alignment(layout, align);
    return layout;
}

}  // namespace

Painter::Painter(cairo_t* cr, const CPaintManagerUI* manager) : cr_(cr), manager_(manager) {}

void Painter::FillRect(const Rect& rc, Color color) {
    if (rc.IsEmpty() || (color >> 24) == 0) {
        return;
    }
    SetColor(cr_, color);
    cairo_rectangle(cr_, rc.left, rc.top, rc.Width(), rc.Height());
    cairo_fill(cr_);
}

void Painter::DrawBorder(const Rect& rc, int size, Color color) {
    if (rc.IsEmpty() || size <= 0) {
        return;
    }
    SetColor(cr_, color);
    const double half = size / 2.0;
    cairo_set_line_width(cr_, size);
    cairo_rectangle(cr_, rc.left + half, rc.top + half, rc.Width() - size, rc.Height() - size);
    cairo_stroke(cr_);
}

bool Painter::DrawImage(const Rect& rcControl, const std::string& imageString) {
    ParsedImage parsed = ParseImageString(imageString);
    if (!parsed.fault.empty()) {
        ReportFault("image string \"" + imageString + "\": " + parsed.fault);
    }
    if (parsed.image.Picture().empty()) {
        return false;
    }
    return DrawImage(rcControl, parsed.image);
}

bool Painter::DrawImage(const Rect& rcControl, const ImageDescription& image) {
    // On a screen of twice the density, a picture "name@2x.png" drawn at twice the size is used
    // when the skin has one; coordinates in the layouts stay those of the normal picture.
    int density = 1;
    cairo_surface_t* surface = nullptr;
    double ux = 1.0;
    double uy = 0.0;
    cairo_user_to_device_distance(cr_, &ux, &uy);
    if (std::hypot(ux, uy) >= 1.5) {
        const std::string& name = image.Picture();
        const size_t dot = name.rfind('.');
        if (dot != std::string::npos) {
            surface = CImageCache::GetImage(name.substr(0, dot) + "@2x" + name.substr(dot),
                                            image.mask, /*quiet=*/true);
            density = surface != nullptr ? 2 : 1;
        }
    }
    if (surface == nullptr) {
        surface = CImageCache::GetImage(image.Picture(), image.mask);
    }
    if (surface == nullptr) {
        return false;
    }
    const Rect whole{0, 0, cairo_image_surface_get_width(surface) / density,
                     cairo_image_surface_get_height(surface) / density};
    const Rect src = image.source ? image.source->Intersect(whole) : whole;
    Rect dst = rcControl;
    if (image.dest) {
        dst = image.dest->Offset(rcControl.left, rcControl.top);
        // The right and bottom edges are cut at the control's edges.
        dst.right = std::min(dst.right, rcControl.right);
        dst.bottom = std::min(dst.bottom, rcControl.bottom);
    }
    if (src.IsEmpty() || dst.IsEmpty()) {
        return false;
    }
    const double alpha = image.fade / 255.0;
    // Nine-slice: corners keep their size, edges stretch in one direction, the middle in both.
    // Corners wider than the picture or the target are shrunk to fit.
    Rect c = image.corner;
    c.left = std::clamp(c.left, 0, std::min(src.Width(), dst.Width()));
    c.right = std::clamp(c.right, 0, std::min(src.Width(), dst.Width()) - c.left);
    c.top = std::clamp(c.top, 0, std::min(src.Height(), dst.Height()));
    c.bottom = std::clamp(c.bottom, 0, std::min(src.Height(), dst.Height()) - c.top);
    const int k = density;
    const int sx[4] = {src.left * k, (src.left + c.left) * k, (src.right - c.right) * k,
                       src.right * k};
    const int sy[4] = {src.top * k, (src.top + c.top) * k, (src.bottom - c.bottom) * k,
                       src.bottom * k};
    const int dx[4] = {dst.left, dst.left + c.left, dst.right - c.right, dst.right};
    const int dy[4] = {dst.top, dst.top + c.top, dst.bottom - c.bottom, dst.bottom};
    for (int row = 0; row < 3; ++row) {
        for (int col = 0; col < 3; ++col) {
            const bool middle = row == 1 && col == 1;
            if (middle && image.hole) {
                continue;
            }
            DrawPart(cr_, surface, {sx[col], sy[row], sx[col + 1], sy[row + 1]},
                     {dx[col], dy[row], dx[col + 1], dy[row + 1]}, alpha, middle && image.xtiled,
                     middle && image.ytiled, density);
        }
    }
    return true;
}

void Painter::DrawSurface(cairo_surface_t* surface, const Rect& dest) {
    if (surface == nullptr || dest.IsEmpty()) {
        return;
    }
    const Rect whole{0, 0, cairo_image_surface_get_width(surface),
                     cairo_image_surface_get_height(surface)};
    DrawPart(cr_, surface, whole, dest, 1.0, false, false, 1);
}

std::string Painter::FontDescriptionString(const FontInfo& font) {
    std::string desc = font.name.empty() ? std::string("DejaVu Sans") : font.name;
    desc += ",";
    if (font.bold) {
        desc += " Bold";
    }
    if (font.italic) {
        desc += " Italic";
    }
    desc += " " + std::to_string(std::clamp(font.size, 1, 200)) + "px";
    return desc;
}

std::string Painter::HtmlToPangoMarkup(const std::wstring& wtext, const CPaintManagerUI* manager) {
    const std::string text = platform::WideToUtf8(wtext);
    std::string out;
    std::vector<std::string> open;  // closing tags of the open spans, innermost last
    size_t i = 0;
    std::string plain;
    auto flush = [&] {
        out += Escape(plain);
        plain.clear();
    };
    while (i < text.size()) {
        if (text[i] != '{') {
            plain.push_back(text[i++]);
            continue;
        }
        const size_t close = text.find('}', i);
        if (close == std::string::npos) {
            plain += text.substr(i);
            break;
        }
        const std::string tag = text.substr(i + 1, close - i - 1);
        i = close + 1;
        flush();
        if (tag == "u" || tag == "b" || tag == "i") {
            out += "<" + tag + ">";
            open.push_back("</" + tag + ">");
        } else if (tag == "/u" || tag == "/b" || tag == "/i" || tag == "/f" || tag == "/c") {
            if (!open.empty()) {
                out += open.back();
                open.pop_back();
            }
        } else if (tag.starts_with("f ")) {
            FontInfo f;
            if (auto idx = ParseInt(tag.substr(2)); idx && manager != nullptr) {
                f = manager->GetFont(*idx);
            }
            out += "<span font_desc=\"" + Escape(FontDescriptionString(f)) + "\"" +
                   (f.underline ? " underline=\"single\"" : "") + ">";
            open.push_back("</span>");
        } else if (tag.starts_with("c ")) {
            auto c = ParseColor(tag.substr(2));
            char buf[16];
            std::snprintf(buf, sizeof buf, "#%06X", c ? (*c & 0xFFFFFF) : 0);
            out += std::string("<span foreground=\"") + buf + "\">";
            open.push_back("</span>");
        } else if (tag == "n") {
            out += "\n";
        } else {
            plain += "{" + tag + "}";  // not markup: shown as written
        }
    }
    flush();
    while (!open.empty()) {
        out += open.back();
        open.pop_back();
    }
    return out;
}

void Painter::DrawText(const Rect& rc, const std::wstring& text, int font, Color color,
                       uint32_t style, bool html) {
    if (rc.IsEmpty() || text.empty()) {
        return;
    }
    const FontInfo fi = manager_ != nullptr ? manager_->GetFont(font) : FontInfo{};
    PangoLayout* layout = MakeLayout(cr_, text, fi, rc.Width(), style, html, manager_);
    PangoRectangle ink;
    PangoRectangle logical;
    pango_layout_get_pixel_extents(layout, &ink, &logical);
    int y = rc.top;
    if ((style & DT_VCENTER) != 0) {
        y = rc.top + (rc.Height() - logical.height) / 2;
    } else if ((style & DT_BOTTOM) != 0) {
        y = rc.bottom - logical.height;
    }
    cairo_save(cr_);
    cairo_rectangle(cr_, rc.left, rc.top, rc.Width(), rc.Height());
    cairo_clip(cr_);
    SetColor(cr_, color);
    int x = rc.left;
    if (pango_layout_get_width(layout) < 0) {
        // Unbounded (one line): the alignment is the offset of its logical extent.
        if ((style & DT_CENTER) != 0) {
            x = rc.left + (rc.Width() - logical.width) / 2;
        } else if ((style & DT_RIGHT) != 0) {
            x = rc.right - logical.width;
        }
        x -= logical.x;
    }
    cairo_move_to(cr_, x, y);
    pango_cairo_show_layout(cr_, layout);
    cairo_restore(cr_);
    g_object_unref(layout);
}

Size Painter::MeasureText(const std::wstring& text, int font, int width, uint32_t style,
                          bool html) {
    if (text.empty()) {
        return {};
    }
    const FontInfo fi = manager_ != nullptr ? manager_->GetFont(font) : FontInfo{};
    PangoLayout* layout = MakeLayout(cr_, text, fi, width, style, html, manager_);
    PangoRectangle logical;
    pango_layout_get_pixel_extents(layout, nullptr, &logical);
    g_object_unref(layout);
    return {logical.width, logical.height};
}

void Painter::PushClip(const Rect& rc) {
    cairo_save(cr_);
    cairo_rectangle(cr_, rc.left, rc.top, std::max(rc.Width(), 0), std::max(rc.Height(), 0));
    cairo_clip(cr_);
}

void Painter::PopClip() {
    cairo_restore(cr_);
}

}  // namespace UiLib

#if defined(__has_feature)
#if __has_feature(address_sanitizer)
// Under AddressSanitizer: the font configuration library, and the toolkit when windows are real,
// keep caches for the life of the process that the leak checker reports at exit. They are not
// the program's to free; every program that paints text links this file.
extern "C" const char* __lsan_default_suppressions() {
    return "leak:libfontconfig.so\n"
           "leak:libgtk-3.so\n"
           "leak:libgdk-3.so\n"
           "leak:libpangoft2-1.0.so\n";
}
#endif
#endif

#if defined(__has_feature)
#if __has_feature(thread_sanitizer)
// Under ThreadSanitizer: pango loads the font configuration on a thread of its own ("[pango]
// FcInit") and the font library synchronises with it by means the sanitizer does not see, as it
// is not built for it. Races inside those two libraries are theirs; the framework's own state is
// checked in full.
extern "C" const char* __tsan_default_suppressions() {
    return "race:libfontconfig.so\n"
           "race:libpangoft2-1.0.so\n"
           "called_from_lib:libfontconfig.so\n";
}
#endif
#endif
