// Painting: borders over children, image strings (source, dest cut at the edges, nine-slice
// corners, hole, fade, mask) and text, checked on pixels of offscreen renders.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <memory>

#include "UiLib/CControlUI.h"
#include "UiLib/CDialogBuilder.h"
#include "UiLib/CEditUI.h"
#include "UiLib/CPaintManagerUI.h"
#include "UiLib/CVerticalLayoutUI.h"
#include "UiLib/Diagnostics.h"
#include "UiLib/Painter.h"
#include "UiLib/ResourceArchive.h"
#include "skin/Skin.h"
#include "tests/uilib/PixelProbe.h"
#include "tests/uilib/TestArchive.h"

namespace UiLib {
namespace {

using uilibtest::PixelAt;

struct Rendered {
    CPaintManagerUI pm;
    cairo_surface_t* surface = nullptr;
    ~Rendered() {
        if (surface != nullptr) {
            cairo_surface_destroy(surface);
        }
    }
};

void Render(Rendered& r, const char* xml, Size size) {
    CDialogBuilder builder;
    r.pm.AttachDialog(builder.CreateFromText(xml, &r.pm));
    r.pm.SetClientSize(size);
    r.surface = r.pm.RenderToSurface();
}

TEST(Paint, ContainerBorderIsDrawnOverFillingChildren) {
    Rendered r;
    Render(r,
           R"(<Window><VerticalLayout bordersize="1" bordercolor="#FFFF0000">
                <Control bkcolor="#FF00FF00" /></VerticalLayout></Window>)",
           {20, 10});
    EXPECT_EQ(PixelAt(r.surface, 0, 5), 0xFFFF0000u);
    EXPECT_EQ(PixelAt(r.surface, 19, 5), 0xFFFF0000u);
    EXPECT_EQ(PixelAt(r.surface, 10, 9), 0xFFFF0000u);
    EXPECT_EQ(PixelAt(r.surface, 10, 5), 0xFF00FF00u);
}

// Counts the paints that reach it, as a window's controls would be drawn.
class CountingControl : public CControlUI {
  public:
    explicit CountingControl(int* painted) : painted_(painted) {}
    void DoPaint(Painter& painter, const Rect& clip) override {
        if (!GetPos().Intersect(clip).IsEmpty()) {
            ++*painted_;
        }
        CControlUI::DoPaint(painter, clip);
    }

  private:
    int* painted_;
};

TEST(Paint, OnlyControlsReachingTheClipArePaintedAndTheRestOfTheSurfaceIsLeftAlone) {
    int top = 0;
    int bottom = 0;
    CPaintManagerUI pm;
    auto* root = new CVerticalLayoutUI();
    auto* upper = new CountingControl(&top);
    auto* lower = new CountingControl(&bottom);
    upper->SetAttribute("bkcolor", "#FF00FF00");
    lower->SetAttribute("bkcolor", "#FFFF0000");
    root->Add(upper);
    root->Add(lower);
    pm.AttachDialog(root);
    pm.SetClientSize({20, 20});

    cairo_surface_t* surface = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, 20, 20);
    cairo_t* cr = cairo_create(surface);
    cairo_rectangle(cr, 0, 0, 20, 10);
    cairo_clip(cr);
    pm.Paint(cr);
    cairo_destroy(cr);
    cairo_surface_flush(surface);
    EXPECT_EQ(top, 1);
    EXPECT_EQ(bottom, 0);
    EXPECT_EQ(PixelAt(surface, 10, 5), 0xFF00FF00u);
    EXPECT_EQ(PixelAt(surface, 10, 15), 0u);
    cairo_surface_destroy(surface);

    // A clip across both, on a surface of twice the density: the clip is in the window's units.
    top = bottom = 0;
    surface = pm.RenderToSurface(2.0);
    EXPECT_EQ(top, 1);
    EXPECT_EQ(bottom, 1);
    EXPECT_EQ(PixelAt(surface, 20, 30), 0xFFFF0000u);
    cairo_surface_destroy(surface);

    // A clip outside the window paints nothing.
    top = bottom = 0;
    surface = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, 40, 40);
    cr = cairo_create(surface);
    cairo_rectangle(cr, 25, 25, 10, 10);
    cairo_clip(cr);
    pm.Paint(cr);
    cairo_destroy(cr);
    EXPECT_EQ(top + bottom, 0);
    cairo_surface_destroy(surface);
}

}  // namespace
}  // namespace UiLib

namespace UiLib {
namespace {

using uilibtest::PixelAt;

constexpr uint32_t kRed = 0xFFFF0000;
constexpr uint32_t kGreen = 0xFF00FF00;
constexpr uint32_t kBlue = 0xFF0000FF;
constexpr uint32_t kWhite = 0xFFFFFFFF;
constexpr uint32_t kMagenta = 0xFFFF00FF;

void Fill(cairo_t* cr, double x, double y, double w, double h, uint32_t c) {
    cairo_set_source_rgba(cr, ColorR(c), ColorG(c), ColorB(c), ColorA(c));
    cairo_rectangle(cr, x, y, w, h);
    cairo_fill(cr);
}

// quad.png: 4x4, quadrants red, green / blue, magenta.
// frame.png: 9x9, a 3-pixel red frame around a blue middle.
// stripes.png: 3x1, red, green, red (the middle column alternates when tiled).
std::map<std::string, std::string> Pictures() {
    return {
        {"quad.png", uilibtest::MakePng(4, 4,
                                        [](cairo_t* cr) {
                                            Fill(cr, 0, 0, 2, 2, kRed);
                                            Fill(cr, 2, 0, 2, 2, kGreen);
                                            Fill(cr, 0, 2, 2, 2, kBlue);
                                            Fill(cr, 2, 2, 2, 2, kMagenta);
                                        })},
        {"frame.png", uilibtest::MakePng(9, 9,
                                         [](cairo_t* cr) {
                                             Fill(cr, 0, 0, 9, 9, kRed);
                                             Fill(cr, 3, 3, 3, 3, kBlue);
                                         })},
        {"broken.png", "\x89PNG\r\n\x1a\nthis is not a picture"},
        // The dense variant of quad.png: the same layout at twice the size, in other colours so
        // that a test can tell which was drawn.
        {"quad@2x.png", uilibtest::MakePng(8, 8,
                                           [](cairo_t* cr) {
                                               Fill(cr, 0, 0, 4, 4, kBlue);
                                               Fill(cr, 4, 0, 4, 4, kMagenta);
                                               Fill(cr, 0, 4, 8, 4, kGreen);
                                           })},
    };
}

class Images : public ::testing::Test {
  protected:
    // Draws `image` into a control at 10,10 of size w x h on a white 60x60 canvas.
    uint32_t Draw(const std::string& image, int w, int h, int x, int y) {
        cairo_surface_t* s = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, 60, 60);
        cairo_t* cr = cairo_create(s);
        Painter painter(cr, nullptr);
        painter.FillRect({0, 0, 60, 60}, kWhite);
        painter.DrawImage({10, 10, 10 + w, 10 + h}, image);
        cairo_destroy(cr);
        const uint32_t px = PixelAt(s, x, y);
        cairo_surface_destroy(s);
        return px;
    }
    uilibtest::ScopedArchive archive_{Pictures()};
};

TEST_F(Images, SourceSelectsAPartStretchedOverTheControl) {
    EXPECT_EQ(Draw("file='quad.png' source='2,0,4,2'", 20, 20, 12, 12), kGreen);
    EXPECT_EQ(Draw("file='quad.png' source='2,0,4,2'", 20, 20, 28, 28), kGreen);
    EXPECT_EQ(Draw("quad.png", 20, 20, 12, 28), kBlue);  // whole picture
    EXPECT_EQ(Draw("quad.png", 20, 20, 28, 28), kMagenta);
}

TEST_F(Images, DestIsRelativeAndCutAtTheControlEdges) {
    const std::string img = "file='quad.png' source='0,0,2,2' dest='5,5,25,25'";
    EXPECT_EQ(Draw(img, 10, 10, 17, 17), kRed);    // inside dest and control
    EXPECT_EQ(Draw(img, 10, 10, 12, 12), kWhite);  // control, outside dest
    EXPECT_EQ(Draw(img, 10, 10, 22, 22), kWhite);  // dest beyond the control: cut
}

TEST_F(Images, CornersKeepTheirSizeAndHoleLeavesTheMiddle) {
    const std::string img = "file='frame.png' corner='3,3,3,3'";
    EXPECT_EQ(Draw(img, 40, 40, 11, 11), kRed);
    EXPECT_EQ(Draw(img, 40, 40, 12, 30), kRed);   // left edge stays 3 pixels wide
    EXPECT_EQ(Draw(img, 40, 40, 14, 30), kBlue);  // ...so just inside it is the middle
    EXPECT_EQ(Draw(img, 40, 40, 30, 30), kBlue);
    EXPECT_EQ(Draw(img, 40, 40, 48, 48), kRed);
    EXPECT_EQ(Draw(img + " hole='true'", 40, 40, 30, 30), kWhite);
    EXPECT_EQ(Draw(img + " hole='true'", 40, 40, 11, 30), kRed);
}

TEST_F(Images, FadeAndMask) {
    const uint32_t faded = Draw("file='quad.png' source='0,0,2,2' fade='128'", 10, 10, 15, 15);
    EXPECT_EQ(faded >> 16 & 0xFF, 0xFFu);
    EXPECT_NEAR(static_cast<int>(faded >> 8 & 0xFF), 127, 2);  // half white, half red
    EXPECT_EQ(Draw("file='quad.png' mask='#FFFF00FF'", 20, 20, 28, 28), kWhite);
    EXPECT_EQ(Draw("file='quad.png' mask='FFFF00FF'", 20, 20, 12, 12), kRed);
}

TEST_F(Images, DenseScreensUseTheDoubleSizePictureWithTheSameCoordinates) {
    auto draw = [](double scale, int x, int y) {
        cairo_surface_t* s = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, 40, 40);
        cairo_t* cr = cairo_create(s);
        cairo_scale(cr, scale, scale);
        Painter painter(cr, nullptr);
        painter.DrawImage({0, 0, 10, 10}, "file='quad.png' source='2,0,4,2'");
        cairo_destroy(cr);
        const uint32_t px = PixelAt(s, x, y);
        cairo_surface_destroy(s);
        return px;
    };
    EXPECT_EQ(draw(1.0, 5, 5), kGreen);      // quad.png, top right quadrant
    EXPECT_EQ(draw(2.0, 10, 10), kMagenta);  // quad@2x.png, the same quadrant
    ClearReportedFaults();
    EXPECT_EQ(Draw("file='frame.png' source='0,0,9,9'", 10, 10, 10, 10), kRed);
    EXPECT_TRUE(ReportedFaults().empty());  // no "@2x" variant is not a fault
}

TEST_F(Images, MissingOrDamagedPicturesDrawNothingAndAreReportedOnce) {
    ClearReportedFaults();
    EXPECT_EQ(Draw("file='nope.png'", 20, 20, 15, 15), kWhite);
    EXPECT_EQ(Draw("broken.png", 20, 20, 15, 15), kWhite);
    EXPECT_EQ(Draw("broken.png", 20, 20, 15, 15), kWhite);
    EXPECT_EQ(ReportedFaults(),
              (std::vector<std::string>{"missing picture nope.png", "damaged picture broken.png"}));
}

TEST(Text, MarkupOfHtmlButtons) {
    CPaintManagerUI pm;
    pm.AddFont({"DejaVu Sans", 12, false, false, false}, true);
    pm.AddFont({"DejaVu Sans", 12, false, false, false}, false);
    pm.AddFont({"DejaVu Sans", 12, false, false, false}, false);
    pm.AddFont({"DejaVu Sans", 14, true, false, false}, false);
    const std::string m = Painter::HtmlToPangoMarkup(L"{f 3}{u}View{/u}{/f}", &pm);
    EXPECT_EQ(m, "<span font_desc=\"DejaVu Sans, Bold 14px\"><u>View</u></span>");
    EXPECT_EQ(Painter::HtmlToPangoMarkup(L"a<b & {x}", &pm), "a&lt;b &amp; {x}");
    // Unbalanced markup is closed, stray closers ignored.
    EXPECT_EQ(Painter::HtmlToPangoMarkup(L"{b}x{/u}{/u}", &pm), "<b>x</b>");
}

TEST(Text, EllipsisKeepsTextInsideItsRectangle) {
    CPaintManagerUI pm;
    std::unique_ptr<CControlUI> holder;
    pm.AttachDialog(CDialogBuilder().CreateFromText(
        R"(<Window><HorizontalLayout bkcolor="#FFFFFFFF">
             <Label name="l" width="60" endellipsis="true" textcolor="#FF000000"
                    text="A rather long line that cannot fit" /><Control />
           </HorizontalLayout></Window>)",
        &pm));
    pm.SetClientSize({200, 30});
    cairo_surface_t* s = pm.RenderToSurface();
    bool inkInside = false;
    for (int x = 0; x < 60 && !inkInside; ++x) {
        for (int y = 0; y < 30; ++y) {
            if (PixelAt(s, x, y) != kWhite) {
                inkInside = true;
                break;
            }
        }
    }
    bool inkOutside = false;
    for (int x = 60; x < 200; ++x) {
        for (int y = 0; y < 30; ++y) {
            inkOutside = inkOutside || PixelAt(s, x, y) != kWhite;
        }
    }
    cairo_surface_destroy(s);
    EXPECT_TRUE(inkInside);
    EXPECT_FALSE(inkOutside);
}

// An edit is one line: a path longer than the field is clipped at its right edge, never wrapped
// onto a second line (which a 34-pixel field would show cut in half).
TEST(Text, AnEditKeepsALongPathOnOneLine) {
    CPaintManagerUI pm;
    pm.AttachDialog(CDialogBuilder().CreateFromText(
        R"(<Window><VerticalLayout bkcolor="#FFFFFFFF">
             <Edit name="e" width="120" height="60" textcolor="#FF000000"
                   text="/tmp/a-folder-with-a-long-name/and/sms.csv" /><Control />
           </VerticalLayout></Window>)",
        &pm));
    pm.SetClientSize({300, 60});
    cairo_surface_t* s = pm.RenderToSurface();
    // The rows that carry ink: one band around the middle, nothing to the right of the field.
    int top = 60;
    int bottom = -1;
    bool inkOutside = false;
    for (int y = 0; y < 60; ++y) {
        for (int x = 0; x < 300; ++x) {
            if (PixelAt(s, x, y) != kWhite) {
                if (x >= 120) {
                    inkOutside = true;
                } else {
                    top = std::min(top, y);
                    bottom = std::max(bottom, y);
                }
            }
        }
    }
    cairo_surface_destroy(s);
    ASSERT_GE(bottom, top) << "the text is painted";
    EXPECT_LT(bottom - top, 20) << "one line of 13-pixel text, not two";
    EXPECT_FALSE(inkOutside);
}

// A path longer than its edit shows its end, where the caret is put: the text scrolls sideways
// with the caret, and a click lands on the character under the pointer, wherever it scrolled.
TEST(Text, ALongPathInAnEditShowsItsEndAndScrollsWithTheCaret) {
    CPaintManagerUI pm;
    pm.AttachDialog(CDialogBuilder().CreateFromText(
        R"(<Window><VerticalLayout bkcolor="#FFFFFFFF">
             <Edit name="e" width="120" height="34" textcolor="#FF000000" />
             <Edit name="short" width="120" height="34" textcolor="#FF000000" text="/tmp" />
             <Control /></VerticalLayout></Window>)",
        &pm));
    pm.SetClientSize({300, 100});
    auto* edit = dynamic_cast<CEditUI*>(pm.FindControl("e"));
    ASSERT_NE(edit, nullptr);
    const std::wstring path = L"/home/someone/a-folder-with-a-rather-long-name/Backups/sms.csv";
    edit->SetText(path);
    auto render = [&] { cairo_surface_destroy(pm.RenderToSurface()); };
    render();
    EXPECT_GT(edit->GetScrollOffset(), 0) << "scrolled to show the end";
    EXPECT_EQ(dynamic_cast<CEditUI*>(pm.FindControl("short"))->GetScrollOffset(), 0);
    // A click at the right edge of the field falls on the last characters of the path.
    pm.OnButtonDown({117, 17}, 0, false);
    pm.OnButtonUp({117, 17});
    EXPECT_GE(edit->GetCaret(), static_cast<int>(path.size()) - 2);
    // The caret at the start scrolls back; a click at the left edge is then the first character.
    edit->SetSel(0, 0);
    render();
    EXPECT_EQ(edit->GetScrollOffset(), 0);
    pm.OnButtonDown({2, 17}, 0, false);
    pm.OnButtonUp({2, 17});
    EXPECT_LE(edit->GetCaret(), 1);
    // Nothing of the scrolled text leaves the field.
    edit->SetText(path);
    cairo_surface_t* s = pm.RenderToSurface();
    bool inkOutside = false;
    for (int y = 0; y < 34; ++y) {
        for (int x = 120; x < 300; ++x) {
            inkOutside = inkOutside || PixelAt(s, x, y) != kWhite;
        }
    }
    cairo_surface_destroy(s);
    EXPECT_FALSE(inkOutside);
}

// Items laid out by a control of their own inside a list (rows made on demand) are painted with
// the list's item colours: the hover colour under the pointer, the line below each.
TEST(Lists, ItemsInsideAContainerOfTheListTakeItsHoverAndLineColours) {
    CPaintManagerUI pm;
    pm.AttachDialog(CDialogBuilder().CreateFromText(
        R"(<Window><VerticalLayout bkcolor="#FFFFFFFF">
             <List name="list" itembkcolor="#FFFFFFFF" itemhotbkcolor="#FF00FF00"
                   itemlinecolor="#FF0000FF">
               <VerticalLayout height="60">
                 <ListContainerElement name="a" height="30"><Label text="a" width="20" /></ListContainerElement>
                 <ListContainerElement name="b" height="30"><Label text="b" width="20" /></ListContainerElement>
               </VerticalLayout>
             </List></VerticalLayout></Window>)",
        &pm));
    pm.SetClientSize({200, 100});
    auto pixel = [&](int x, int y) {
        cairo_surface_t* s = pm.RenderToSurface();
        const uint32_t c = PixelAt(s, x, y);
        cairo_surface_destroy(s);
        return c;
    };
    EXPECT_EQ(pixel(100, 10), kWhite);
    EXPECT_EQ(pixel(100, 29), kBlue) << "the line below the first row";
    pm.OnMouseMove({100, 10});  // over the first row, beside its label
    EXPECT_EQ(pixel(100, 10), kGreen);
    EXPECT_EQ(pixel(100, 45), kWhite) << "the other row stays";
    pm.OnMouseMove({10, 45});  // over the second row's label
    EXPECT_EQ(pixel(100, 10), kWhite);
    EXPECT_EQ(pixel(100, 45), kGreen);
    pm.OnMouseLeave();
    EXPECT_EQ(pixel(100, 45), kWhite);
}

TEST_F(Images, ButtonStateImagesFollowHotPushedAndDisabled) {
    CPaintManagerUI pm;
    pm.AttachDialog(CDialogBuilder().CreateFromText(
        R"(<Window><VerticalLayout>
             <Button name="b" height="20" normalimage="file='quad.png' source='0,0,2,2'"
                     hotimage="file='quad.png' source='2,0,4,2'"
                     pushedimage="file='quad.png' source='0,2,2,4'"
                     disabledimage="file='quad.png' source='2,2,4,4'" />
             <Control /></VerticalLayout></Window>)",
        &pm));
    pm.SetClientSize({40, 40});
    auto centre = [&] {
        cairo_surface_t* s = pm.RenderToSurface();
        const uint32_t c = PixelAt(s, 20, 10);
        cairo_surface_destroy(s);
        return c;
    };
    EXPECT_EQ(centre(), kRed);
    pm.OnMouseMove({20, 10});
    EXPECT_EQ(centre(), kGreen);
    pm.OnButtonDown({20, 10}, 0, false);
    EXPECT_EQ(centre(), kBlue);
    pm.OnButtonUp({20, 10});
    pm.OnMouseLeave();
    pm.FindControl("b")->SetEnabled(false);
    EXPECT_EQ(centre(), kMagenta);
}

}  // namespace
}  // namespace UiLib
