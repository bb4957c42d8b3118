// Builds the skin archive: draws the pictures of the skin with cairo (PNG) and encodes the
// animations (GIF, with the small encoder below), packs them with the layouts into a ZIP, and
// writes the ZIP as a C++ array to link into the program.
//
//   skin-build XML_DIR OUT_DIR     -> OUT_DIR/pictures/*, OUT_DIR/skin.zip, OUT_DIR/SkinData.cpp
//
// Every picture is drawn here from shapes; nothing is copied from elsewhere. Coordinates of the
// sprites are the ones the layouts name (see skin/README.md for the map of Controls.png).
#include <cairo.h>
#include <zip.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

// --- palette -------------------------------------------------------------------------------
struct Rgb {
    double r, g, b;
};
constexpr Rgb Hex(unsigned v) {
    return {((v >> 16) & 0xFF) / 255.0, ((v >> 8) & 0xFF) / 255.0, (v & 0xFF) / 255.0};
}
constexpr Rgb kAccent = Hex(0x2F80D1);
constexpr Rgb kAccentHot = Hex(0x4A93DB);
constexpr Rgb kAccentPushed = Hex(0x2569AE);
constexpr Rgb kAccentDisabled = Hex(0xB9C7D5);
constexpr Rgb kMuted = Hex(0x6E6E6E);
constexpr Rgb kLine = Hex(0xDADADA);
constexpr Rgb kLineHot = Hex(0xB8C2CC);
constexpr Rgb kSlate = Hex(0x495867);
constexpr Rgb kPanel = Hex(0xF4F6F8);
constexpr Rgb kWhite = Hex(0xFFFFFF);
constexpr Rgb kGreen = Hex(0x2EAA6A);
constexpr Rgb kRed = Hex(0xD9534F);
constexpr Rgb kAmber = Hex(0xE39B2D);
constexpr Rgb kGrey = Hex(0xA8B0B8);

void Set(cairo_t* cr, Rgb c, double a = 1.0) {
    cairo_set_source_rgba(cr, c.r, c.g, c.b, a);
}

void RoundRect(cairo_t* cr, double x, double y, double w, double h, double r) {
    r = std::min({r, w / 2, h / 2});
    cairo_new_sub_path(cr);
    cairo_arc(cr, x + w - r, y + r, r, -M_PI / 2, 0);
    cairo_arc(cr, x + w - r, y + h - r, r, 0, M_PI / 2);
    cairo_arc(cr, x + r, y + h - r, r, M_PI / 2, M_PI);
    cairo_arc(cr, x + r, y + r, r, M_PI, 3 * M_PI / 2);
    cairo_close_path(cr);
}

// A filled rounded box with an optional 1-pixel border drawn inside it.
void Box(cairo_t* cr, double x, double y, double w, double h, double r, Rgb fill,
         const Rgb* border = nullptr, double borderWidth = 1.0) {
    RoundRect(cr, x, y, w, h, r);
    Set(cr, fill);
    cairo_fill(cr);
    if (border != nullptr) {
        const double half = borderWidth / 2;
        RoundRect(cr, x + half, y + half, w - borderWidth, h - borderWidth, r - half);
        Set(cr, *border);
        cairo_set_line_width(cr, borderWidth);
        cairo_stroke(cr);
    }
}

void Circle(cairo_t* cr, double cx, double cy, double r) {
    cairo_new_sub_path(cr);
    cairo_arc(cr, cx, cy, r, 0, 2 * M_PI);
}

// A glyph of the bold sans font centred at cx,cy (used for "?", "!" and "i" marks).
void Glyph(cairo_t* cr, const char* text, double cx, double cy, double size, Rgb color) {
    cairo_select_font_face(cr, "DejaVu Sans", CAIRO_FONT_SLANT_NORMAL, CAIRO_FONT_WEIGHT_BOLD);
    cairo_set_font_size(cr, size);
    cairo_text_extents_t ext;
    cairo_text_extents(cr, text, &ext);
    Set(cr, color);
    cairo_move_to(cr, cx - ext.width / 2 - ext.x_bearing, cy - ext.height / 2 - ext.y_bearing);
    cairo_show_text(cr, text);
}

void Stroke(cairo_t* cr, Rgb color, double width) {
    Set(cr, color);
    cairo_set_line_width(cr, width);
    cairo_set_line_cap(cr, CAIRO_LINE_CAP_ROUND);
    cairo_set_line_join(cr, CAIRO_LINE_JOIN_ROUND);
    cairo_stroke(cr);
}

void CheckMark(cairo_t* cr, double x, double y, double s, Rgb color, double width) {
    cairo_move_to(cr, x + s * 0.22, y + s * 0.52);
    cairo_line_to(cr, x + s * 0.42, y + s * 0.72);
    cairo_line_to(cr, x + s * 0.78, y + s * 0.30);
    Stroke(cr, color, width);
}

// --- Controls.png ---------------------------------------------------------------------------
void DrawButtons(cairo_t* cr) {
    const Rgb primary[4] = {kAccent, kAccentHot, kAccentPushed, kAccentDisabled};
    for (int i = 0; i < 4; ++i) {
        Box(cr, i * 80, 0, 80, 36, 4, primary[i]);
    }
    const Rgb fill[4] = {kWhite, kPanel, Hex(0xE9EDF1), Hex(0xF7F8F9)};
    const Rgb border[4] = {kLine, kLineHot, kLineHot, Hex(0xE6E6E6)};
    for (int i = 0; i < 4; ++i) {
        Box(cr, 320 + i * 48, 0, 48, 36, 4, fill[i], &border[i]);
    }
}

void Radio(cairo_t* cr, double x, double y, bool selected, bool hot, bool disabled) {
    const Rgb ring = disabled ? kLine : (selected || hot ? kAccent : Hex(0xB3BCC5));
    Circle(cr, x + 8, y + 8, 7);
    Set(cr, disabled ? kPanel : kWhite);
    cairo_fill_preserve(cr);
    Set(cr, ring);
    cairo_set_line_width(cr, 1.5);
    cairo_stroke(cr);
    if (selected) {
        Circle(cr, x + 8, y + 8, 3.5);
        Set(cr, disabled ? kGrey : (hot ? kAccentHot : kAccent));
        cairo_fill(cr);
    }
}

void Check(cairo_t* cr, double x, double y, bool selected, bool hot, bool disabled) {
    if (selected) {
        Box(cr, x + 1, y + 1, 14, 14, 3, disabled ? kGrey : (hot ? kAccentHot : kAccent));
        CheckMark(cr, x + 1, y + 1, 14, kWhite, 1.8);
    } else {
        const Rgb border = disabled ? kLine : (hot ? kAccent : Hex(0xB3BCC5));
        Box(cr, x + 1, y + 1, 14, 14, 3, disabled ? kPanel : kWhite, &border, 1.5);
    }
}

void DrawToggles(cairo_t* cr) {
    // Radio buttons then check boxes, 16x16 every 20 pixels at y 38: normal, hot, selected,
    // selected hot, disabled, selected disabled.
    const bool sel[6] = {false, false, true, true, false, true};
    const bool hot[6] = {false, true, false, true, false, false};
    const bool dis[6] = {false, false, false, false, true, true};
    for (int i = 0; i < 6; ++i) {
        Radio(cr, i * 20, 38, sel[i], hot[i], dis[i]);
        Check(cr, 120 + i * 20, 38, sel[i], hot[i], dis[i]);
    }
    // The language mark at 359,38.
    CheckMark(cr, 359, 38, 16, kAccent, 2.2);
}

void DrawCaptionButtons(cairo_t* cr) {
    // 40x40 at y 60: close, menu, back; each normal, hot, pushed.
    for (int s = 0; s < 3; ++s) {
        const double hotAlpha = s == 0 ? 0.0 : (s == 1 ? 0.14 : 0.24);
        for (int kind = 0; kind < 3; ++kind) {
            const double x = kind * 120 + s * 40;
            const double y = 60;
            if (kind == 0 && s > 0) {
                cairo_rectangle(cr, x, y, 40, 40);
                Set(cr, s == 1 ? kRed : Hex(0xB8403C));
                cairo_fill(cr);
            } else if (hotAlpha > 0) {
                cairo_rectangle(cr, x, y, 40, 40);
                Set(cr, kWhite, hotAlpha);
                cairo_fill(cr);
            }
            if (kind == 0) {
                cairo_move_to(cr, x + 15, y + 15);
                cairo_line_to(cr, x + 25, y + 25);
                cairo_move_to(cr, x + 25, y + 15);
                cairo_line_to(cr, x + 15, y + 25);
            } else if (kind == 1) {
                for (int l = 0; l < 3; ++l) {
                    cairo_move_to(cr, x + 13, y + 14 + l * 6);
                    cairo_line_to(cr, x + 27, y + 14 + l * 6);
                }
            } else {
                cairo_move_to(cr, x + 24, y + 13);
                cairo_line_to(cr, x + 17, y + 20);
                cairo_line_to(cr, x + 24, y + 27);
            }
            Stroke(cr, kWhite, 1.8);
        }
    }
}

void DrawBars(cairo_t* cr) {
    Box(cr, 0, 104, 200, 10, 5, Hex(0xE4E8EC));
    Box(cr, 0, 116, 200, 10, 5, kAccent);
}

void DrawEditFrames(cairo_t* cr) {
    const Rgb borders[4] = {kLine, kLineHot, kAccent, Hex(0xE6E6E6)};
    const Rgb fills[4] = {kWhite, kWhite, kWhite, kPanel};
    for (int i = 0; i < 4; ++i) {
        Box(cr, i * 60, 130, 60, 34, 4, fills[i], &borders[i], i == 2 ? 1.5 : 1.0);
    }
}

// Mode icons of the home tab, 64x64.
void PhoneShape(cairo_t* cr, double x, double y, double w, double h, Rgb c) {
    const Rgb screen = Hex(0xFFFFFF);
    Box(cr, x, y, w, h, w * 0.18, c);
    Box(cr, x + w * 0.1, y + h * 0.1, w * 0.8, h * 0.76, 2, screen);
    Circle(cr, x + w / 2, y + h * 0.93, w * 0.05);
    Set(cr, screen);
    cairo_fill(cr);
}

void Arrow(cairo_t* cr, double x1, double y1, double x2, double y2, Rgb c, double width) {
    const double a = std::atan2(y2 - y1, x2 - x1);
    cairo_move_to(cr, x1, y1);
    cairo_line_to(cr, x2, y2);
    cairo_move_to(cr, x2 - 7 * std::cos(a - 0.6), y2 - 7 * std::sin(a - 0.6));
    cairo_line_to(cr, x2, y2);
    cairo_line_to(cr, x2 - 7 * std::cos(a + 0.6), y2 - 7 * std::sin(a + 0.6));
    Stroke(cr, c, width);
}

void Drive(cairo_t* cr, double x, double y, Rgb c) {
    Box(cr, x, y, 26, 30, 4, c);
    for (int i = 0; i < 3; ++i) {
        cairo_rectangle(cr, x + 5, y + 6 + i * 7, 16, 3);
    }
    Set(cr, kWhite);
    cairo_fill(cr);
}

void ModeIcon(cairo_t* cr, int kind, double x, double y, Rgb c) {
    switch (kind) {
        case 0:  // back up: phone -> drive
            PhoneShape(cr, x + 6, y + 8, 24, 44, c);
            Arrow(cr, x + 32, y + 30, x + 44, y + 30, c, 2.5);
            Drive(cr, x + 36, y + 34, c);
            break;
        case 1:  // restore from backup: drive -> phone
            Drive(cr, x + 4, y + 10, c);
            Arrow(cr, x + 20, y + 46, x + 34, y + 46, c, 2.5);
            PhoneShape(cr, x + 36, y + 14, 24, 44, c);
            break;
        case 2: {  // restore from the desktop library: disc with a note -> phone
            Circle(cr, x + 20, y + 24, 16);
            Set(cr, c);
            cairo_fill(cr);
            cairo_move_to(cr, x + 17, y + 32);
            cairo_line_to(cr, x + 17, y + 15);
            cairo_line_to(cr, x + 27, y + 13);
            cairo_line_to(cr, x + 27, y + 29);
            Stroke(cr, kWhite, 2);
            Circle(cr, x + 15, y + 32, 3);
            Circle(cr, x + 25, y + 29, 3);
            Set(cr, kWhite);
            cairo_fill(cr);
            PhoneShape(cr, x + 38, y + 16, 22, 40, c);
            Arrow(cr, x + 22, y + 50, x + 35, y + 50, c, 2.5);
            break;
        }
        default: {  // import: document -> phone
            cairo_move_to(cr, x + 6, y + 8);
            cairo_line_to(cr, x + 22, y + 8);
            cairo_line_to(cr, x + 30, y + 16);
            cairo_line_to(cr, x + 30, y + 44);
            cairo_line_to(cr, x + 6, y + 44);
            cairo_close_path(cr);
            Set(cr, c);
            cairo_fill(cr);
            for (int i = 0; i < 3; ++i) {
                cairo_move_to(cr, x + 11, y + 22 + i * 7);
                cairo_line_to(cr, x + 25, y + 22 + i * 7);
            }
            Stroke(cr, kWhite, 2);
            Arrow(cr, x + 26, y + 52, x + 37, y + 52, c, 2.5);
            PhoneShape(cr, x + 38, y + 14, 22, 42, c);
            break;
        }
    }
}

void DrawModeIcons(cairo_t* cr) {
    for (int i = 0; i < 4; ++i) {
        ModeIcon(cr, i, i * 64, 170, kAccent);
        ModeIcon(cr, i, 256 + i * 64, 170, kGrey);
    }
}

void MenuIcon(cairo_t* cr, int kind, double x, double y) {
    const Rgb c = kMuted;
    const double cx = x + 9;
    const double cy = y + 9;
    switch (kind) {
        case 0:  // settings: a cog
            for (int i = 0; i < 8; ++i) {
                const double a = i * M_PI / 4;
                cairo_move_to(cr, cx + 5 * std::cos(a), cy + 5 * std::sin(a));
                cairo_line_to(cr, cx + 7.5 * std::cos(a), cy + 7.5 * std::sin(a));
            }
            Stroke(cr, c, 2.2);
            Circle(cr, cx, cy, 4.5);
            Stroke(cr, c, 1.8);
            break;
        case 1:  // help
        case 3:  // questions
            Circle(cr, cx, cy, 7.5);
            Stroke(cr, c, 1.5);
            Glyph(cr, "?", cx, cy + 0.5, 11, c);
            break;
        case 2:  // language: a globe
            Circle(cr, cx, cy, 7.5);
            cairo_move_to(cr, cx - 7.5, cy);
            cairo_line_to(cr, cx + 7.5, cy);
            Stroke(cr, c, 1.5);
            cairo_save(cr);
            cairo_translate(cr, cx, cy);
            cairo_scale(cr, 0.45, 1.0);
            Circle(cr, 0, 0, 7.5);
            cairo_restore(cr);
            Stroke(cr, c, 1.5);
            break;
        case 4:  // about
            Circle(cr, cx, cy, 7.5);
            Stroke(cr, c, 1.5);
            Glyph(cr, "i", cx, cy + 0.5, 11, c);
            break;
        case 5:  // support: a ring buoy
            Circle(cr, cx, cy, 7.5);
            Stroke(cr, c, 1.5);
            Circle(cr, cx, cy, 3.2);
            Stroke(cr, c, 1.5);
            for (int i = 0; i < 4; ++i) {
                const double a = M_PI / 4 + i * M_PI / 2;
                cairo_move_to(cr, cx + 3.2 * std::cos(a), cy + 3.2 * std::sin(a));
                cairo_line_to(cr, cx + 7.5 * std::cos(a), cy + 7.5 * std::sin(a));
            }
            Stroke(cr, c, 1.5);
            break;
        default:  // exit: a power sign
            cairo_arc(cr, cx, cy + 0.5, 6.5, -M_PI / 2 + 0.7, 3 * M_PI / 2 - 0.7);
            Stroke(cr, c, 1.7);
            cairo_move_to(cr, cx, cy - 7.5);
            cairo_line_to(cr, cx, cy);
            Stroke(cr, c, 1.7);
            break;
    }
}

void DrawMenuIcons(cairo_t* cr) {
    for (int i = 0; i < 7; ++i) {
        MenuIcon(cr, i, i * 20, 240);
    }
}

void FileIcon(cairo_t* cr, double x, double y, Rgb c, int mark) {
    cairo_move_to(cr, x + 2, y + 1);
    cairo_line_to(cr, x + 14, y + 1);
    cairo_line_to(cr, x + 20, y + 7);
    cairo_line_to(cr, x + 20, y + 25);
    cairo_line_to(cr, x + 2, y + 25);
    cairo_close_path(cr);
    Set(cr, c);
    cairo_fill(cr);
    if (mark == 0) {  // our own backup: a drive
        for (int i = 0; i < 3; ++i) {
            cairo_rectangle(cr, x + 6, y + 9 + i * 5, 10, 2);
        }
        Set(cr, kWhite);
        cairo_fill(cr);
    } else {  // a desktop library backup: a note
        cairo_move_to(cr, x + 9, y + 19);
        cairo_line_to(cr, x + 9, y + 9);
        cairo_line_to(cr, x + 15, y + 8);
        cairo_line_to(cr, x + 15, y + 17);
        Stroke(cr, kWhite, 1.5);
        Circle(cr, x + 7.5, y + 19, 2);
        Circle(cr, x + 13.5, y + 17, 2);
        Set(cr, kWhite);
        cairo_fill(cr);
    }
    if (mark == 2) {  // locked
        Box(cr, x + 11, y + 16, 11, 9, 2, kAmber);
        cairo_arc(cr, x + 16.5, y + 16, 3, M_PI, 2 * M_PI);
        Stroke(cr, kAmber, 1.6);
    }
}

void DrawListIcons(cairo_t* cr) {
    FileIcon(cr, 0, 262, kAccent, 0);
    FileIcon(cr, 22, 262, Hex(0x8E6BC7), 1);
    FileIcon(cr, 44, 262, Hex(0x8E6BC7), 2);
}

void DrawStatusIcons(cairo_t* cr) {
    Circle(cr, 10, 302, 8);
    Set(cr, kGreen);
    cairo_fill(cr);
    CheckMark(cr, 3, 295, 14, kWhite, 2);
    Circle(cr, 30, 302, 8);
    Set(cr, kRed);
    cairo_fill(cr);
    cairo_move_to(cr, 26.5, 298.5);
    cairo_line_to(cr, 33.5, 305.5);
    cairo_move_to(cr, 33.5, 298.5);
    cairo_line_to(cr, 26.5, 305.5);
    Stroke(cr, kWhite, 2);
    Circle(cr, 50, 302, 8);
    Set(cr, kGrey);
    cairo_fill(cr);
    Glyph(cr, "i", 50, 302.5, 11, kWhite);
}

void DrawCards(cairo_t* cr) {
    const Rgb fill[4] = {kWhite, Hex(0xF3F8FD), Hex(0xE6F0FA), Hex(0xF7F8F9)};
    const Rgb border[4] = {kLine, kAccent, kAccentPushed, Hex(0xE6E6E6)};
    for (int i = 0; i < 4; ++i) {
        Box(cr, i * 60, 316, 60, 60, 8, fill[i], &border[i], i == 1 || i == 2 ? 1.5 : 1.0);
    }
}

void MessageIcon(cairo_t* cr, double x, double y, Rgb c, const char* mark) {
    Circle(cr, x + 26.5, y + 26.5, 24);
    Set(cr, c);
    cairo_fill(cr);
    if (mark == nullptr) {
        CheckMark(cr, x + 8, y + 8, 37, kWhite, 4.5);
    } else {
        Glyph(cr, mark, x + 26.5, y + 27, 30, kWhite);
    }
}

void DrawMessageIcons(cairo_t* cr) {
    MessageIcon(cr, 291, 473, kGreen, nullptr);  // confirm
    MessageIcon(cr, 344, 473, kAmber, "!");      // error and warning
    MessageIcon(cr, 397, 473, kAccent, "?");     // question
    MessageIcon(cr, 450, 473, kAccent, "i");     // information
}

// --- MainWnd.png ------------------------------------------------------------------------------
void DrawLogo(cairo_t* cr, double x, double y, double s) {
    Box(cr, x, y, s, s, s * 0.22, kWhite);
    // Two arrows chasing each other: copy out and copy back.
    const double cx = x + s / 2;
    const double cy = y + s / 2;
    cairo_arc(cr, cx, cy, s * 0.28, M_PI * 1.1, M_PI * 1.9);
    Stroke(cr, kAccent, s * 0.09);
    cairo_arc(cr, cx, cy, s * 0.28, M_PI * 0.1, M_PI * 0.9);
    Stroke(cr, kGreen, s * 0.09);
    Arrow(cr, cx + s * 0.2, cy - s * 0.24, cx + s * 0.27, cy - s * 0.1, kAccent, s * 0.07);
    Arrow(cr, cx - s * 0.2, cy + s * 0.24, cx - s * 0.27, cy + s * 0.1, kGreen, s * 0.07);
}

void DrawComputer(cairo_t* cr, double x, double y) {
    Box(cr, x + 4, y, 112, 72, 6, kSlate);
    Box(cr, x + 10, y + 6, 100, 58, 2, Hex(0xE6F0FA));
    cairo_rectangle(cr, x + 50, y + 72, 20, 12);
    Set(cr, kSlate);
    cairo_fill(cr);
    Box(cr, x + 30, y + 84, 60, 6, 3, kSlate);
    Drive(cr, x + 47, y + 20, kAccent);
}

void DrawMainPictures(cairo_t* cr) {
    DrawLogo(cr, 0, 0, 28);
    DrawComputer(cr, 0, 40);
    Arrow(cr, 130, 52, 172, 52, kAccent, 3);
    Arrow(cr, 172, 76, 130, 76, kAccent, 3);
    // A small computer for headings, 24x24 at 0,140.
    Box(cr, 1, 142, 22, 15, 2, kSlate);
    Box(cr, 3, 144, 18, 11, 1, Hex(0xE6F0FA));
    cairo_rectangle(cr, 9, 157, 6, 3);
    Set(cr, kSlate);
    cairo_fill(cr);
    Box(cr, 6, 160, 12, 2, 1, kSlate);
}

// --- Connection.png ---------------------------------------------------------------------------
void DrawPhone(cairo_t* cr, double x, double y, bool connected) {
    Box(cr, x + 4, y, 64, 124, 12, Hex(0x2F3A45));
    Box(cr, x + 9, y + 14, 54, 92, 3, connected ? Hex(0xE6F0FA) : Hex(0xEEF1F4));
    Box(cr, x + 27, y + 6, 18, 3, 1.5, Hex(0x5B6875));
    Circle(cr, x + 36, y + 115, 4);
    Set(cr, Hex(0x5B6875));
    cairo_fill(cr);
    if (connected) {
        // A home screen: rows of app tiles.
        const Rgb tiles[4] = {kAccent, kGreen, kAmber, Hex(0x8E6BC7)};
        for (int row = 0; row < 4; ++row) {
            for (int col = 0; col < 3; ++col) {
                Box(cr, x + 14 + col * 16, y + 22 + row * 18, 12, 12, 3, tiles[(row + col) % 4]);
            }
        }
    } else {
        // A plug waiting for its cable.
        cairo_move_to(cr, x + 36, y + 72);
        cairo_line_to(cr, x + 36, y + 62);
        Stroke(cr, kGrey, 3);
        Box(cr, x + 28, y + 46, 16, 16, 3, kGrey);
        cairo_move_to(cr, x + 32, y + 46);
        cairo_line_to(cr, x + 32, y + 40);
        cairo_move_to(cr, x + 40, y + 46);
        cairo_line_to(cr, x + 40, y + 40);
        Stroke(cr, kGrey, 2.5);
    }
}

void DrawConnectionPictures(cairo_t* cr) {
    DrawPhone(cr, 0, 0, true);
    DrawPhone(cr, 72, 0, false);
    const Rgb okBorder = Hex(0xBFE5CF);
    const Rgb waitBorder = Hex(0xDDE2E7);
    Box(cr, 0, 140, 60, 36, 8, Hex(0xEAF7F0), &okBorder);
    Box(cr, 60, 140, 60, 36, 8, Hex(0xF2F4F6), &waitBorder);
}

// Writes the picture at `scale` (2 for the "@2x" pictures of dense screens).
bool WritePng(const fs::path& path, int w, int h, const std::function<void(cairo_t*)>& draw,
              int scale = 1) {
    cairo_surface_t* s = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, w * scale, h * scale);
    cairo_t* cr = cairo_create(s);
    cairo_scale(cr, scale, scale);
    cairo_font_options_t* fo = cairo_font_options_create();
    cairo_font_options_set_antialias(fo, CAIRO_ANTIALIAS_GRAY);
    cairo_set_font_options(cr, fo);
    cairo_font_options_destroy(fo);
    draw(cr);
    cairo_destroy(cr);
    const bool ok = cairo_surface_write_to_png(s, path.c_str()) == CAIRO_STATUS_SUCCESS;
    cairo_surface_destroy(s);
    return ok;
}

// --- GIF encoder ------------------------------------------------------------------------------
// One global palette of at most 256 colours, LZW-coded frames, looping forever.
class GifWriter {
  public:
    GifWriter(int w, int h) : w_(w), h_(h) {}

    void AddFrame(std::vector<uint32_t> rgb, int delayCs) {
        frames_.push_back({std::move(rgb), delayCs});
    }

    bool Write(const fs::path& path) {
        // Palette: exact colours, coarsened until they fit.
        int shift = 0;
        std::map<uint32_t, int> index;
        for (;; ++shift) {
            index.clear();
            for (auto& f : frames_) {
                for (uint32_t c : f.rgb) {
                    index.emplace(Quantize(c, shift), 0);
                }
            }
            if (index.size() <= 256) {
                break;
            }
        }
        std::vector<uint32_t> palette;
        for (auto& [c, i] : index) {
            i = static_cast<int>(palette.size());
            palette.push_back(c);
        }
        int bits = 1;
        while ((1 << bits) < static_cast<int>(palette.size())) {
            ++bits;
        }
        palette.resize(size_t{1} << bits, 0);

        std::vector<uint8_t> out;
        auto u16 = [&](int v) {
            out.push_back(static_cast<uint8_t>(v & 0xFF));
            out.push_back(static_cast<uint8_t>((v >> 8) & 0xFF));
        };
        for (char c : std::string("GIF89a")) {
            out.push_back(static_cast<uint8_t>(c));
        }
        u16(w_);
        u16(h_);
        out.push_back(static_cast<uint8_t>(0x80 | ((bits - 1) << 4) | (bits - 1)));
        out.push_back(0);
        out.push_back(0);
        for (uint32_t c : palette) {
            out.push_back(static_cast<uint8_t>((c >> 16) & 0xFF));
            out.push_back(static_cast<uint8_t>((c >> 8) & 0xFF));
            out.push_back(static_cast<uint8_t>(c & 0xFF));
        }
        // Loop forever.
        const uint8_t loop[] = {0x21, 0xFF, 0x0B, 'N', 'E',  'T',  'S',  'C',  'A', 'P',
                                'E',  '2',  '.',  '0', 0x03, 0x01, 0x00, 0x00, 0x00};
        out.insert(out.end(), std::begin(loop), std::end(loop));
        for (auto& f : frames_) {
            out.insert(out.end(), {0x21, 0xF9, 0x04, 0x04});  // graphic control: keep frame
            u16(f.delayCs);
            out.insert(out.end(), {0x00, 0x00});
            out.push_back(0x2C);
            u16(0);
            u16(0);
            u16(w_);
            u16(h_);
            out.push_back(0);
            std::vector<uint8_t> pixels;
            pixels.reserve(f.rgb.size());
            for (uint32_t c : f.rgb) {
                pixels.push_back(static_cast<uint8_t>(index.at(Quantize(c, shift))));
            }
            const int minCode = std::max(bits, 2);
            out.push_back(static_cast<uint8_t>(minCode));
            std::vector<uint8_t> data = Lzw(pixels, minCode);
            for (size_t i = 0; i < data.size(); i += 255) {
                const size_t n = std::min<size_t>(255, data.size() - i);
                out.push_back(static_cast<uint8_t>(n));
                out.insert(out.end(), data.begin() + static_cast<ptrdiff_t>(i),
                           data.begin() + static_cast<ptrdiff_t>(i + n));
            }
            out.push_back(0);
        }
        out.push_back(0x3B);
        std::ofstream file(path, std::ios::binary);
        file.write(reinterpret_cast<const char*>(out.data()),
                   static_cast<std::streamsize>(out.size()));
        return static_cast<bool>(file);
    }

  private:
    struct Frame {
        std::vector<uint32_t> rgb;
        int delayCs;
    };

    static uint32_t Quantize(uint32_t c, int shift) {
        const uint32_t mask = (0xFFu << shift) & 0xFF;
        return (((c >> 16) & mask) << 16) | (((c >> 8) & mask) << 8) | (c & mask);
    }

    // Variable-width LZW as GIF wants it: codes packed least significant bit first.
    static std::vector<uint8_t> Lzw(const std::vector<uint8_t>& pixels, int minCode) {
        std::vector<uint8_t> out;
        uint32_t acc = 0;
        int accBits = 0;
        const int clear = 1 << minCode;
        const int end = clear + 1;
        int width = minCode + 1;
        int next = end + 1;
        std::map<std::pair<int, uint8_t>, int> table;
        auto emit = [&](int code) {
            acc |= static_cast<uint32_t>(code) << accBits;
            accBits += width;
            while (accBits >= 8) {
                out.push_back(static_cast<uint8_t>(acc & 0xFF));
                acc >>= 8;
                accBits -= 8;
            }
        };
        emit(clear);
        int prefix = -1;
        for (uint8_t p : pixels) {
            if (prefix < 0) {
                prefix = p;
                continue;
            }
            auto it = table.find({prefix, p});
            if (it != table.end()) {
                prefix = it->second;
                continue;
            }
            emit(prefix);
            if (next < 4096) {
                table[{prefix, p}] = next++;
                if (next > (1 << width) && width < 12) {
                    ++width;
                }
            } else {
                emit(clear);
                table.clear();
                width = minCode + 1;
                next = end + 1;
            }
            prefix = p;
        }
        if (prefix >= 0) {
            emit(prefix);
        }
        emit(end);
        if (accBits > 0) {
            out.push_back(static_cast<uint8_t>(acc & 0xFF));
        }
        return out;
    }

    int w_;
    int h_;
    std::vector<Frame> frames_;
};

// A spinner of `dots` dots, the bright one moving one step per frame, on an opaque matte.
bool WriteSpinner(const fs::path& path, int size, Rgb matte, Rgb color, int frames) {
    GifWriter gif(size, size);
    const int dots = frames;
    for (int f = 0; f < frames; ++f) {
        cairo_surface_t* s = cairo_image_surface_create(CAIRO_FORMAT_RGB24, size, size);
        cairo_t* cr = cairo_create(s);
        Set(cr, matte);
        cairo_paint(cr);
        const double r = size * 0.38;
        const double dot = std::max(1.2, size * 0.085);
        for (int i = 0; i < dots; ++i) {
            const double a = 2 * M_PI * i / dots - M_PI / 2;
            const int age = (f - i + dots) % dots;  // 0: the head of the tail
            const double alpha = std::max(0.15, 1.0 - age * 0.12);
            Circle(cr, size / 2.0 + r * std::cos(a), size / 2.0 + r * std::sin(a), dot);
            Set(cr, color, alpha);
            cairo_fill(cr);
        }
        cairo_destroy(cr);
        cairo_surface_flush(s);
        std::vector<uint32_t> rgb;
        const unsigned char* data = cairo_image_surface_get_data(s);
        const int stride = cairo_image_surface_get_stride(s);
        for (int y = 0; y < size; ++y) {
            const auto* row =
                reinterpret_cast<const uint32_t*>(data + static_cast<ptrdiff_t>(y) * stride);
            for (int x = 0; x < size; ++x) {
                rgb.push_back(row[x] & 0xFFFFFF);
            }
        }
        cairo_surface_destroy(s);
        gif.AddFrame(std::move(rgb), 8);
    }
    return gif.Write(path);
}

// --- packing ----------------------------------------------------------------------------------
bool Pack(const fs::path& zipPath, const std::vector<std::pair<std::string, fs::path>>& files) {
    int err = 0;
    fs::remove(zipPath);
    zip_t* z = zip_open(zipPath.c_str(), ZIP_CREATE | ZIP_TRUNCATE, &err);
    if (z == nullptr) {
        return false;
    }
    for (const auto& [name, path] : files) {
        zip_source_t* src = zip_source_file(z, path.c_str(), 0, -1);
        if (src == nullptr || zip_file_add(z, name.c_str(), src, ZIP_FL_OVERWRITE) < 0) {
            std::fprintf(stderr, "cannot add %s: %s\n", name.c_str(), zip_strerror(z));
            zip_source_free(src);
            zip_discard(z);
            return false;
        }
    }
    return zip_close(z) == 0;
}

bool WriteArray(const fs::path& zipPath, const fs::path& cppPath) {
    std::ifstream in(zipPath, std::ios::binary);
    std::vector<unsigned char> bytes((std::istreambuf_iterator<char>(in)), {});
    std::string text =
        "// Generated by skin-build from skin/: the skin archive as bytes.\n"
        "extern \"C\" {\nextern const unsigned char tolvane_skin_zip[];\n"
        "extern const unsigned long tolvane_skin_zip_size;\n"
        "alignas(16) const unsigned char tolvane_skin_zip[] = {\n";
    char buf[8];
    for (size_t i = 0; i < bytes.size(); ++i) {
        std::snprintf(buf, sizeof buf, "%u,", bytes[i]);
        text += buf;
        if (i % 24 == 23) {
            text += "\n";
        }
    }
    text += "\n};\nconst unsigned long tolvane_skin_zip_size = " + std::to_string(bytes.size()) +
            "ul;\n}\n";
    // Rewrite only when changed, so an unchanged skin does not rebuild the program.
    std::ifstream old(cppPath, std::ios::binary);
    std::string oldText((std::istreambuf_iterator<char>(old)), {});
    if (oldText == text) {
        return true;
    }
    std::ofstream out(cppPath, std::ios::binary | std::ios::trunc);
    out << text;
    return static_cast<bool>(out);
}

// The application's icon for the desktop: the mark at the top left of MainWnd.png, drawn afresh at
// `size` pixels so that every size of the icon theme is sharp rather than scaled.
int WriteIcon(const char* sizeText, const fs::path& path) {
    char* end = nullptr;
    const long size = std::strtol(sizeText, &end, 10);
    if (*sizeText == '\0' || *end != '\0' || size < 8 || size > 1024) {
        std::fprintf(stderr, "skin-build: icon size must be 8 to 1024, not '%s'\n", sizeText);
        return 2;
    }
    const int s = static_cast<int>(size);
    const auto draw = [s](cairo_t* cr) {
        DrawLogo(cr, 0, 0, s);
        // A hairline of the skin's line colour keeps the white tile visible on a light menu.
        const double w = std::max(1.0, s / 32.0);
        RoundRect(cr, w / 2, w / 2, s - w, s - w, s * 0.22 - w / 2);
        Set(cr, kLine);
        cairo_set_line_width(cr, w);
        cairo_stroke(cr);
    };
    if (!WritePng(path, s, s, draw)) {
        std::fprintf(stderr, "skin-build: cannot write %s\n", path.c_str());
        return 1;
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 4 && std::string(argv[1]) == "--icon") {
        return WriteIcon(argv[2], argv[3]);
    }
    if (argc != 3) {
        std::fprintf(stderr,
                     "usage: skin-build XML_DIR OUT_DIR\n       skin-build --icon SIZE OUT.png\n");
        return 2;
    }
    const fs::path xmlDir = argv[1];
    const fs::path outDir = argv[2];
    const fs::path pictures = outDir / "pictures";
    fs::create_directories(pictures);
    bool ok = true;
    auto controls = [](cairo_t* cr) {
        DrawButtons(cr);
        DrawToggles(cr);
        DrawCaptionButtons(cr);
        DrawBars(cr);
        DrawEditFrames(cr);
        DrawModeIcons(cr);
        DrawMenuIcons(cr);
        DrawListIcons(cr);
        DrawStatusIcons(cr);
        DrawCards(cr);
        DrawMessageIcons(cr);
    };
    for (int scale : {1, 2}) {
        const std::string suffix = scale == 1 ? ".png" : "@2x.png";
        ok &= WritePng(pictures / ("Controls" + suffix), 512, 532, controls, scale);
        ok &= WritePng(pictures / ("MainWnd" + suffix), 320, 168, DrawMainPictures, scale);
        ok &= WritePng(pictures / ("Connection" + suffix), 144, 176, DrawConnectionPictures, scale);
    }
    ok &= WriteSpinner(pictures / "connecting.gif", 16, Hex(0xF2F4F6), kAccent, 8);
    ok &= WriteSpinner(pictures / "loading.gif", 24, kWhite, kAccent, 10);
    ok &= WriteSpinner(pictures / "loading_view.gif", 48, kWhite, kAccent, 12);
    if (!ok) {
        std::fprintf(stderr, "skin-build: cannot write the pictures\n");
        return 1;
    }
    std::vector<std::pair<std::string, fs::path>> files;
    std::vector<fs::path> layouts;
    for (const auto& e : fs::directory_iterator(xmlDir)) {
        if (e.path().extension() == ".xml") {
            layouts.push_back(e.path());
        }
    }
    std::sort(layouts.begin(), layouts.end());
    for (const auto& p : layouts) {
        files.emplace_back("xml/" + p.filename().string(), p);
    }
    for (const char* name :
         {"Controls.png", "MainWnd.png", "Connection.png", "Controls@2x.png", "MainWnd@2x.png",
          "Connection@2x.png", "connecting.gif", "loading.gif", "loading_view.gif"}) {
        files.emplace_back(name, pictures / name);
    }
    if (!Pack(outDir / "skin.zip", files) ||
        !WriteArray(outDir / "skin.zip", outDir / "SkinData.cpp")) {
        std::fprintf(stderr, "skin-build: cannot pack the skin\n");
        return 1;
    }
    return 0;
}
