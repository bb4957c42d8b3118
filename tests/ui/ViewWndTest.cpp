// The viewer's lines and its rows on demand: what each message and contact line says, and that
// the rows the list holds show exactly the lines in view, in order, wherever it is scrolled.
#include <gtest/gtest.h>

#include <ctime>
#include <memory>

#include "UiLib/CListUI.h"
#include "UiLib/CTabLayoutUI.h"
#include "UiLib/OffscreenHost.h"
#include "UiLib/WindowImplBase.h"
#include "skin/layouts/ElementView.h"
#include "tests/support/TestEnv.h"
#include "ui/CViewWnd.h"
#include "ui/Startup.h"

namespace uitest {
namespace {

// The process's time zone for one test, and the previous one again afterwards.
class ScopedZone {
  public:
    explicit ScopedZone(const char* zone) : env_(std::make_unique<testenv::ScopedEnv>("TZ", zone)) {
        tzset();
    }
    ~ScopedZone() {
        env_.reset();
        tzset();
    }

  private:
    std::unique_ptr<testenv::ScopedEnv> env_;
};

using tolvane::ContactDetail;
using tolvane::MessageDetail;

TEST(ViewLines, AMessageLineTellsWhenWhichWayAndWithWhom) {
    ScopedZone zone("Europe/Berlin");
    MessageDetail m;
    m.text = L"See you";
    m.unixTime = 1425722709;  // 2015-03-07 10:05:09 UTC, 11:05 in Berlin
    m.direction = MessageDetail::kReceived;
    m.correspondent = L"+4915112345678";
    EXPECT_EQ(tolvane::FormatMessageLine(m),
              L"2015-03-07 11:05  Received from +4915112345678: See you");
    m.direction = MessageDetail::kSent;
    m.unixTime = 1436263509;  // 2015-07-07 10:05:09 UTC: summer time, 12:05
    EXPECT_EQ(tolvane::FormatMessageLine(m), L"2015-07-07 12:05  Sent to +4915112345678: See you");
    // What the database does not know is left out, not made up.
    m.correspondent.clear();
    EXPECT_EQ(tolvane::FormatMessageLine(m), L"2015-07-07 12:05  Sent: See you");
    m.unixTime = INT64_MIN;
    m.direction = MessageDetail::kUnknown;
    EXPECT_EQ(tolvane::FormatMessageLine(m), L"See you");
    m.correspondent = L"a@b.example";
    EXPECT_EQ(tolvane::FormatMessageLine(m), L"a@b.example: See you");
}

TEST(ViewLines, AContactLineHasTheNameAndEveryNumber) {
    ContactDetail c{L"Ann Lee", {L"+1 555 0100", L"+44 20 7946 0000"}};
    EXPECT_EQ(tolvane::FormatContactLine(c), L"Ann Lee  +1 555 0100, +44 20 7946 0000");
    c.phones.clear();
    EXPECT_EQ(tolvane::FormatContactLine(c), L"Ann Lee");
    c.name.clear();
    c.phones = {L"112"};
    EXPECT_EQ(tolvane::FormatContactLine(c), L"112");
}

// A window holding only a list, as tall as the viewer's.
class ListWindow : public UiLib::WindowImplBase {
  public:
    std::string GetSkinFile() override { return "xml\\ViewWnd.xml"; }
    std::string GetWindowClassName() const override { return "ListWindow"; }
};

class ViewRowsTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(tolvane::UseProgramSkin());
        auto lines = std::make_shared<std::vector<std::wstring>>();
        for (int i = 0; i < 5000; ++i) {
            lines->push_back(L"line " + std::to_wstring(i));
        }
        window_.Create(nullptr, "rows", 0, 0, 550, 350);
        window_.ShowWindow(true);
        host_.PumpMessages();
        list_ = dynamic_cast<UiLib::CListUI*>(window_.GetPaintManager().FindControl("ViewList"));
        ASSERT_NE(list_, nullptr);
        // The list page is the one shown.
        dynamic_cast<UiLib::CTabLayoutUI*>(window_.GetPaintManager().FindControl("TabMain"))
            ->SelectItem(1);
        rows_ = new tolvane::CViewRowsUI(lines, 40);
        list_->Add(rows_);
        Layout();
    }
    void TearDown() override {
        window_.Close();
        host_.PumpMessages();
    }
    void Layout() { cairo_surface_destroy(host_.Render(window_)); }

    // The lines the row controls show, in the order of the rows, and how many rows fall in
    // the list's rectangle.
    std::vector<int> Shown() {
        std::vector<int> shown;
        for (int r = 0; r < rows_->GetCount(); ++r) {
            const int line = rows_->LineOfRow(r);
            if (line >= 0) {
                shown.push_back(line);
                const std::wstring text =
                    tolvane::skin::ElementViewLayout(rows_->GetItemAt(r)).LblLine()->GetText();
                EXPECT_EQ(text, L"line " + std::to_wstring(line));
                const UiLib::Rect pos = rows_->GetItemAt(r)->GetPos();
                EXPECT_EQ(pos.Height(), tolvane::CViewRowsUI::kRowHeight);
                EXPECT_LT(pos.top, list_->GetPos().bottom);
                EXPECT_GT(pos.bottom, list_->GetPos().top);
            }
        }
        return shown;
    }

    UiLib::OffscreenHost host_;
    ListWindow window_;
    UiLib::CListUI* list_ = nullptr;
    tolvane::CViewRowsUI* rows_ = nullptr;
};

TEST_F(ViewRowsTest, OnlyTheLinesInViewHaveRowsInOrder) {
    const int visible = list_->GetPos().Height();
    ASSERT_GT(visible, 60);
    EXPECT_EQ(rows_->GetFixedHeight(), 5000 * tolvane::CViewRowsUI::kRowHeight);
    std::vector<int> shown = Shown();
    ASSERT_FALSE(shown.empty());
    EXPECT_EQ(shown.front(), 0);
    for (size_t i = 1; i < shown.size(); ++i) {
        EXPECT_EQ(shown[i], shown[i - 1] + 1);
    }
    // As many as reach into the list, not the pool's forty.
    EXPECT_LE(static_cast<int>(shown.size()), visible / tolvane::CViewRowsUI::kRowHeight + 2);

    // Scrolled into the middle: the rows follow.
    list_->SetScrollPos(1234 * tolvane::CViewRowsUI::kRowHeight + 7);
    Layout();
    shown = Shown();
    ASSERT_FALSE(shown.empty());
    EXPECT_EQ(shown.front(), 1234);
    // And to the end: the last line is shown.
    list_->SetScrollPos(list_->GetScrollRange());
    Layout();
    shown = Shown();
    ASSERT_FALSE(shown.empty());
    EXPECT_EQ(shown.back(), 4999);
}

TEST_F(ViewRowsTest, TheRowUnderThePointerTakesTheHoverColour) {
    const auto pixel = [&](UiLib::Point pt) {
        cairo_surface_t* s = host_.Render(window_);
        cairo_surface_flush(s);
        const unsigned char* row = cairo_image_surface_get_data(s) +
                                   static_cast<ptrdiff_t>(pt.y) * cairo_image_surface_get_stride(s);
        const uint32_t c = reinterpret_cast<const uint32_t*>(row)[pt.x];
        cairo_surface_destroy(s);
        return c;
    };
    const UiLib::Rect first = rows_->GetItemAt(0)->GetPos();
    const UiLib::Rect second = rows_->GetItemAt(1)->GetPos();
    ASSERT_EQ(rows_->LineOfRow(0), 0);
    // Beside the short text of the line, inside the row.
    const UiLib::Point inFirst{first.right - 40, first.top + first.Height() / 2};
    const UiLib::Point inSecond{second.right - 40, second.top + second.Height() / 2};
    EXPECT_EQ(pixel(inFirst), 0xFFFFFFFFu);
    window_.GetPaintManager().OnMouseMove(inFirst);
    EXPECT_EQ(pixel(inFirst), 0xFFE8F1FBu);
    EXPECT_EQ(pixel(inSecond), 0xFFFFFFFFu);
    window_.GetPaintManager().OnMouseMove(inSecond);
    EXPECT_EQ(pixel(inFirst), 0xFFFFFFFFu);
    EXPECT_EQ(pixel(inSecond), 0xFFE8F1FBu);
    // A line between the rows.
    EXPECT_EQ(pixel({inFirst.x, first.bottom - 1}), 0xFFEDEFF2u);
}

}  // namespace
}  // namespace uitest
