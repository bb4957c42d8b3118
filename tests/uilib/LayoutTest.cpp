// Layout arithmetic without a display: each child's rectangle after a layout pass.
#include <gtest/gtest.h>

#include <memory>

#include "UiLib/CBoxLayout.h"
#include "UiLib/CDialogBuilder.h"
#include "UiLib/CHorizontalLayoutUI.h"
#include "UiLib/CLabelUI.h"
#include "UiLib/CListContainerElementUI.h"
#include "UiLib/CListUI.h"
#include "UiLib/CPaintManagerUI.h"
#include "UiLib/CTabLayoutUI.h"
#include "UiLib/CVerticalLayoutUI.h"

namespace UiLib {
namespace {

CControlUI* Child(CContainerUI& parent, int width, int height, Rect padding = {}) {
    auto* c = new CControlUI();
    c->SetFixedWidth(width);
    c->SetFixedHeight(height);
    c->SetPadding(padding);
    parent.Add(c);
    return c;
}

TEST(Layout, VerticalFixedAndSharedHeights) {
    CVerticalLayoutUI v;
    v.SetInset({10, 5, 10, 5});
    CControlUI* a = Child(v, 0, 40);
    CControlUI* b = Child(v, 0, 0);
    CControlUI* c = Child(v, 50, 0, {4, 3, 0, 2});
    CControlUI* d = Child(v, 0, 20);
    v.SetPos({0, 0, 200, 110});
    // Inner area 180 x 100 at 10,5. Fixed: 40 + 20, padding 5 -> 35 left for b and c: 17 and 18.
    EXPECT_EQ(a->GetPos(), (Rect{10, 5, 190, 45}));
    EXPECT_EQ(b->GetPos(), (Rect{10, 45, 190, 62}));
    EXPECT_EQ(c->GetPos(), (Rect{14, 65, 64, 83}));
    EXPECT_EQ(d->GetPos(), (Rect{10, 85, 190, 105}));
}

TEST(Layout, HorizontalWithChildPaddingAndClampedHeights) {
    CHorizontalLayoutUI h;
    h.SetChildPadding(6);
    CControlUI* a = Child(h, 100, 0);
    CControlUI* b = Child(h, 0, 20, {0, 5, 0, 0});
    CControlUI* c = Child(h, 0, 500);
    h.SetPos({0, 0, 300, 40});
    // 300 - 100 - 2*6 = 188 shared by b and c: 94 each.
    EXPECT_EQ(a->GetPos(), (Rect{0, 0, 100, 40}));
    EXPECT_EQ(b->GetPos(), (Rect{106, 5, 200, 25}));
    EXPECT_EQ(c->GetPos(), (Rect{206, 0, 300, 40}));  // taller than the row: clamped
}

TEST(Layout, HiddenChildrenTakeNoSpaceAndShowingOneRelaysOut) {
    CPaintManagerUI pm;
    auto* v = new CVerticalLayoutUI();
    pm.AttachDialog(v);
    CControlUI* a = Child(*v, 0, 30);
    CControlUI* b = Child(*v, 0, 30);
    CControlUI* c = Child(*v, 0, 0);
    b->SetVisible(false);
    pm.SetClientSize({100, 100});
    pm.UpdateLayout();
    EXPECT_EQ(a->GetPos(), (Rect{0, 0, 100, 30}));
    EXPECT_EQ(c->GetPos(), (Rect{0, 30, 100, 100}));
    b->SetVisible(true);
    pm.UpdateLayout();
    EXPECT_EQ(b->GetPos(), (Rect{0, 30, 100, 60}));
    EXPECT_EQ(c->GetPos(), (Rect{0, 60, 100, 100}));
}

TEST(Layout, OverfullStackGivesAutoChildrenNothing) {
    CVerticalLayoutUI v;
    Child(v, 0, 80);
    CControlUI* b = Child(v, 0, 0);
    CControlUI* c = Child(v, 0, 40);
    v.SetPos({0, 0, 50, 100});
    EXPECT_EQ(b->GetPos().Height(), 0);
    EXPECT_EQ(c->GetPos(), (Rect{0, 80, 50, 120}));  // runs past the end rather than overlapping
}

TEST(Layout, FloatUsesPosWithinItsParent) {
    CHorizontalLayoutUI h;
    CControlUI* bar = Child(h, 0, 10, {0, 7, 52, 7});
    auto* percent = new CLabelUI();
    percent->SetFloat(true);
    percent->SetFloatPos({402, 0, 450, 24});
    h.Add(percent);
    auto* corner = new CLabelUI();
    corner->SetFloat(true);
    corner->SetFloatPos({4, 8, 0, 0});  // only the corner: size from width and height
    corner->SetFixedWidth(22);
    corner->SetFixedHeight(26);
    h.Add(corner);
    h.SetPos({25, 200, 475, 224});
    EXPECT_EQ(bar->GetPos(), (Rect{25, 207, 423, 217}));  // floats take no room in the flow
    EXPECT_EQ(percent->GetPos(), (Rect{427, 200, 475, 224}));
    EXPECT_EQ(corner->GetPos(), (Rect{29, 208, 51, 234}));
}

TEST(Layout, NestedContainersFromALayout) {
    CPaintManagerUI pm;
    CDialogBuilder builder;
    pm.AttachDialog(builder.CreateFromText(R"(<Window size="300,200">
      <VerticalLayout inset="10,10,10,10">
        <HorizontalLayout height="40" name="row" childpadding="10">
          <Button name="a" width="80" />
          <VerticalLayout name="col" inset="2,2,2,2">
            <Label name="b" height="10" />
            <Label name="c" />
          </VerticalLayout>
        </HorizontalLayout>
        <Control name="gap" height="5" />
        <TabLayout name="tabs" selectedid="1">
          <Label name="p0" />
          <VerticalLayout name="p1" inset="5,5,5,5"><Label name="inner" height="20" /></VerticalLayout>
        </TabLayout>
      </VerticalLayout></Window>)",
                                           &pm));
    pm.SetClientSize(pm.GetInitSize());
    pm.UpdateLayout();
    auto pos = [&](const char* name) { return pm.FindControl(name)->GetPos(); };
    EXPECT_EQ(pos("row"), (Rect{10, 10, 290, 50}));
    EXPECT_EQ(pos("a"), (Rect{10, 10, 90, 50}));
    EXPECT_EQ(pos("col"), (Rect{100, 10, 290, 50}));
    EXPECT_EQ(pos("b"), (Rect{102, 12, 288, 22}));
    EXPECT_EQ(pos("c"), (Rect{102, 22, 288, 48}));
    EXPECT_EQ(pos("tabs"), (Rect{10, 55, 290, 190}));
    EXPECT_EQ(pos("p1"), (Rect{10, 55, 290, 190}));
    EXPECT_EQ(pos("inner"), (Rect{15, 60, 285, 80}));
    EXPECT_FALSE(pm.FindControl("p0")->IsVisible());
    EXPECT_TRUE(pm.FindControl("inner")->IsVisible());
}

TEST(Layout, TabSelectionShowsOnePageAndReportsTheChange) {
    CTabLayoutUI tabs;
    auto* p0 = new CVerticalLayoutUI();
    auto* p1 = new CVerticalLayoutUI();
    auto* inside = new CLabelUI();
    p1->Add(inside);
    tabs.Add(p0);
    tabs.Add(p1);
    EXPECT_EQ(tabs.GetCurSel(), 0);
    EXPECT_TRUE(p0->IsVisible());
    EXPECT_FALSE(inside->IsVisible());
    int reports = 0;
    tabs.Bind("tabselect", CDelegate([&](TNotifyUI& msg) {
                  ++reports;
                  EXPECT_EQ(msg.wParam, 1u);
                  EXPECT_EQ(msg.lParam, 0);
              }));
    EXPECT_TRUE(tabs.SelectItem(1));
    EXPECT_TRUE(tabs.SelectItem(1));  // the same page again: no report
    EXPECT_FALSE(tabs.SelectItem(2));
    EXPECT_EQ(reports, 1);
    EXPECT_FALSE(p0->IsVisible());
    EXPECT_TRUE(inside->IsVisible());
    // Removing a page before the selected one keeps the same page selected.
    tabs.RemoveAt(0);
    EXPECT_EQ(tabs.GetCurSel(), 0);
    EXPECT_EQ(tabs.GetItemAt(0), p1);
}

TEST(Layout, ListScrollsAndKeepsTheSelectionInView) {
    CListUI list;
    for (int i = 0; i < 10; ++i) {
        auto* item = new CListContainerElementUI();
        item->SetFixedHeight(30);
        list.Add(item);
    }
    list.SetPos({0, 0, 100, 100});
    EXPECT_EQ(list.GetScrollRange(), 200);
    EXPECT_EQ(list.GetItemAt(0)->GetPos().right, 100 - 6);  // room for the scroll bar
    list.SelectItem(9);
    EXPECT_EQ(list.GetScrollPos(), 200);
    EXPECT_EQ(list.GetItemAt(9)->GetPos(), (Rect{0, 70, 94, 100}));
    TEventUI wheel;
    wheel.type = UiEvent::ScrollWheel;
    wheel.wParam = 1;  // up
    list.DoEvent(wheel);
    EXPECT_EQ(list.GetScrollPos(), 160);
}

}  // namespace
}  // namespace UiLib
