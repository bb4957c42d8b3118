// The layout loader: vocabulary, includes, defaults, styles and faults.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <memory>

#include "UiLib/CButtonUI.h"
#include "UiLib/CDialogBuilder.h"
#include "UiLib/CEditUI.h"
#include "UiLib/CLabelUI.h"
#include "UiLib/COptionUI.h"
#include "UiLib/CPaintManagerUI.h"
#include "UiLib/CProgressUI.h"
#include "UiLib/CTabLayoutUI.h"
#include "UiLib/Diagnostics.h"
#include "tests/uilib/TestArchive.h"

namespace UiLib {
namespace {

bool HasFault(const std::string& part) {
    auto faults = ReportedFaults();
    return std::any_of(faults.begin(), faults.end(),
                       [&](const std::string& f) { return f.find(part) != std::string::npos; });
}

class Builder : public ::testing::Test {
  protected:
    void SetUp() override { ClearReportedFaults(); }
};

TEST_F(Builder, WindowAttributesFontsAndControls) {
    CPaintManagerUI pm;
    CDialogBuilder builder;
    std::unique_ptr<CControlUI> root(
        builder.CreateFromText("\xEF\xBB\xBF"  // a byte-order mark before the declaration
                               R"(<?xml version="1.0" encoding="utf-8"?>
        <Window size="900,600" caption="0,0,0,40" sizebox="4,4,4,4" roundcorner="4,4"
                mininfo="900,600" bktrans="false">
          <Font name="DejaVu Sans" size="12" />
          <Font name="DejaVu Sans" size="16" bold="true" default="true" />
          <VerticalLayout name="root">
            <Label name="lbl" text="Grüße &amp; more" font="1" textcolor="FF454545"
                   align="center" valign="bottom" endellipsis="true" textpadding="1,2,3,4" />
            <Edit name="edit" tipvalue="SMS file" password="true" maxchar="256" />
            <Progress name="bar" min="0" max="100" value="30" />
          </VerticalLayout>
        </Window>)",
                               &pm));
    EXPECT_TRUE(ReportedFaults().empty());
    EXPECT_EQ(pm.GetInitSize(), (Size{900, 600}));
    EXPECT_EQ(pm.GetCaptionRect(), (Rect{0, 0, 0, 40}));
    EXPECT_EQ(pm.GetMinInfo(), (Size{900, 600}));
    EXPECT_EQ(pm.GetFontCount(), 2);
    EXPECT_EQ(pm.GetFont(0).size, 12);
    EXPECT_TRUE(pm.GetFont(1).bold);
    EXPECT_EQ(pm.GetFont(-1).size, 16);  // the default font
    EXPECT_EQ(pm.GetFont(7).size, 16);   // an index the file lacks
    auto* lbl = dynamic_cast<CLabelUI*>(root->FindControl("lbl"));
    ASSERT_NE(lbl, nullptr);
    EXPECT_EQ(lbl->GetText(), L"Grüße & more");
    EXPECT_EQ(lbl->GetTextColor(), 0xFF454545u);
    EXPECT_EQ(lbl->GetTextPadding(), (Rect{1, 2, 3, 4}));
    EXPECT_EQ(lbl->GetTextStyle() & (DT_CENTER | DT_BOTTOM | DT_END_ELLIPSIS),
              DT_CENTER | DT_BOTTOM | DT_END_ELLIPSIS);
    auto* edit = dynamic_cast<CEditUI*>(root->FindControl("edit"));
    ASSERT_NE(edit, nullptr);
    EXPECT_EQ(edit->GetTipValue(), L"SMS file");
    EXPECT_TRUE(edit->IsPasswordMode());
    EXPECT_EQ(edit->GetMaxChar(), 256);
    EXPECT_EQ(dynamic_cast<CProgressUI*>(root->FindControl("bar"))->GetValue(), 30);
}

TEST_F(Builder, DefaultsStylesAndExplicitAttributesInThatOrder) {
    CPaintManagerUI pm;
    CDialogBuilder builder;
    std::unique_ptr<CControlUI> root(builder.CreateFromText(R"(<Window>
        <Default name="Button" value="height=&quot;30&quot; textcolor=&quot;#FF111111&quot;" />
        <Styles name="s">
          <Style stylename="Big" height="50" bkcolor="#FF222222" />
        </Styles>
        <VerticalLayout>
          <Button name="plain" />
          <Button name="styled" style="Big" />
          <Button name="own" style="Big" height="70" />
        </VerticalLayout></Window>)",
                                                            &pm));
    EXPECT_TRUE(ReportedFaults().empty());
    auto* plain = dynamic_cast<CButtonUI*>(root->FindControl("plain"));
    EXPECT_EQ(plain->GetFixedHeight(), 30);
    EXPECT_EQ(plain->GetTextColor(), 0xFF111111u);
    EXPECT_EQ(root->FindControl("styled")->GetFixedHeight(), 50);
    EXPECT_EQ(root->FindControl("styled")->GetBkColor(), 0xFF222222u);
    EXPECT_EQ(root->FindControl("own")->GetFixedHeight(), 70);
    // Styles also apply by name at run time, through the window's table.
    pm.AttachDialog(root.release());
    EXPECT_TRUE(plain->SetStyle("Big"));
    EXPECT_EQ(plain->GetBkColor(), 0xFF222222u);
    EXPECT_FALSE(plain->SetStyle("Nope"));
    EXPECT_TRUE(HasFault("no style named Nope"));
}

TEST_F(Builder, UnknownElementsAttributesAndBadValuesAreReportedAndSkipped) {
    CDialogBuilder builder;
    std::unique_ptr<CControlUI> root(builder.CreateFromText(R"(<Window>
        <VerticalLayout>
          <Blink name="x"><Label name="insideUnknown" /></Blink>
          <Label name="a" sparkle="yes" width="wide" textcolor="#GG000000" />
          <Label name="b" width="12" />
          <Label name="c" />
        </VerticalLayout></Window>)"));
    ASSERT_NE(root, nullptr);
    EXPECT_EQ(root->FindControl("insideUnknown"), nullptr);
    ASSERT_NE(root->FindControl("a"), nullptr);
    EXPECT_EQ(root->FindControl("a")->GetFixedWidth(), 0);
    EXPECT_EQ(root->FindControl("b")->GetFixedWidth(), 12);
    EXPECT_NE(root->FindControl("c"), nullptr);
    EXPECT_TRUE(HasFault("unknown element Blink"));
    EXPECT_TRUE(HasFault("unknown attribute sparkle"));
    EXPECT_TRUE(HasFault("bad value 'wide' of width"));
    EXPECT_TRUE(HasFault("#GG000000"));
}

TEST_F(Builder, MalformedXmlBuildsWhatWasRead) {
    CDialogBuilder builder;
    std::unique_ptr<CControlUI> root(builder.CreateFromText(
        R"(<Window><VerticalLayout><Label name="first" /><Label name="second" )"));
    ASSERT_NE(root, nullptr);
    EXPECT_NE(root->FindControl("first"), nullptr);
    EXPECT_TRUE(HasFault("malformed XML"));
    EXPECT_EQ(CDialogBuilder().CreateFromText("not xml at all"), nullptr);
    EXPECT_EQ(CDialogBuilder().CreateFromText(""), nullptr);
}

TEST_F(Builder, IncludesFromTheArchive) {
    uilibtest::ScopedArchive archive({
        {"xml/main.xml", R"(<Window size="100,100"><TabLayout name="tabs">
            <Include source="xml/page.xml" />
            <Include source="xml/item.xml" count="3" />
            <Include source="xml/missing.xml" />
            <Include source="xml/loop.xml" />
          </TabLayout></Window>)"},
        {"xml/page.xml", R"(<Window><Styles><Style stylename="P" height="9" /></Styles>
            <Font size="40" /><VerticalLayout name="page" virtualwnd="Page">
            <Label name="inPage" style="P" /></VerticalLayout></Window>)"},
        {"xml/item.xml", R"(<Label name="item" />)"},
        {"xml/loop.xml",
         R"(<VerticalLayout name="loop"><Include source="xml/loop.xml" /></VerticalLayout>)"},
    });
    CPaintManagerUI pm;
    CDialogBuilder builder;
    pm.AttachDialog(builder.Create("xml\\main.xml", &pm));
    auto* tabs = dynamic_cast<CTabLayoutUI*>(pm.FindControl("tabs"));
    ASSERT_NE(tabs, nullptr);
    EXPECT_EQ(tabs->GetCount(), 5);  // page, three items, the first level of the loop
    EXPECT_EQ(pm.FindControl("inPage")->GetFixedHeight(), 9);
    EXPECT_EQ(pm.FindControl("inPage")->GetVirtualWnd(), "Page");
    EXPECT_EQ(pm.GetFontCount(), 0);  // an included file does not add fonts
    EXPECT_TRUE(HasFault("missing include xml/missing.xml"));
    EXPECT_TRUE(HasFault("nested too deeply"));
    EXPECT_EQ(CDialogBuilder().Create("xml/none.xml"), nullptr);
    EXPECT_TRUE(HasFault("missing layout xml/none.xml"));
}

TEST_F(Builder, ElementFilesBuiltForAWindowUseItsStylesAndKeepItsSize) {
    uilibtest::ScopedArchive archive({
        {"xml/win.xml", R"(<Window size="300,200"><Font size="20" />
            <Styles><Style stylename="Ok" bkcolor="#FF00FF00" /></Styles>
            <VerticalLayout name="root" /></Window>)"},
        {"xml/card.xml", R"(<Window size="10,10"><Font size="5" />
            <Label name="card" style="Ok" /></Window>)"},
    });
    CPaintManagerUI pm;
    pm.AttachDialog(CDialogBuilder().Create("xml/win.xml", &pm));
    std::unique_ptr<CControlUI> card(CDialogBuilder().Create("xml/card.xml", &pm));
    ASSERT_NE(card, nullptr);
    EXPECT_EQ(card->GetBkColor(), 0xFF00FF00u);
    EXPECT_EQ(pm.GetInitSize(), (Size{300, 200}));
    EXPECT_EQ(pm.GetFontCount(), 1);
    EXPECT_TRUE(ReportedFaults().empty());
}

TEST_F(Builder, ExtraRootsAreLeftOutNotLost) {
    uilibtest::ScopedArchive archive(
        std::map<std::string, std::string>{{"xml/item.xml", R"(<Label name="item" />)"}});
    // Several roots: the first is kept, the rest reported (and freed, as the leak checker of
    // the sanitizer build verifies).
    std::unique_ptr<CControlUI> root(CDialogBuilder().CreateFromText(
        R"(<Window><Include source="xml/item.xml" count="3" /><Label name="second" /></Window>)"));
    ASSERT_NE(root, nullptr);
    EXPECT_EQ(root->GetName(), "item");
    EXPECT_TRUE(HasFault("more than one root"));
}

TEST_F(Builder, MultipliedIncludesAreCutOff) {
    // 1000 x 1000 x ... labels would never finish; the loader stops at its limit.
    uilibtest::ScopedArchive archive(std::map<std::string, std::string>{
        {"xml/a.xml",
         R"(<VerticalLayout><Include source="xml/b.xml" count="1000" /></VerticalLayout>)"},
        {"xml/b.xml",
         R"(<VerticalLayout><Include source="xml/c.xml" count="1000" /></VerticalLayout>)"},
        {"xml/c.xml", R"(<Label />)"}});
    std::unique_ptr<CControlUI> root(CDialogBuilder().CreateFromText(
        R"(<Window><VerticalLayout><Include source="xml/a.xml" count="1000" /></VerticalLayout></Window>)"));
    ASSERT_NE(root, nullptr);
    EXPECT_TRUE(HasFault("controls; the rest left out"));
}

TEST_F(Builder, ReportsEachFaultOnce) {
    for (int i = 0; i < 3; ++i) {
        std::unique_ptr<CControlUI> root(
            CDialogBuilder().CreateFromText(R"(<Window><Label fizz="1" /></Window>)"));
    }
    EXPECT_EQ(ReportedFaults().size(), 1u);
}

TEST_F(Builder, ActionScriptIsAcceptedWithItsVocabulary) {
    std::unique_ptr<CControlUI> root(CDialogBuilder().CreateFromText(R"(<Window>
        <ActionScript><AGroup name="tabAction" msgtype="tabselect" defaultinterval="5"
            defaulttimer="50"><Property name="pos" type="int" startvalue="0" endvalue="1" />
        </AGroup></ActionScript><Label /></Window>)"));
    EXPECT_NE(root, nullptr);
    EXPECT_TRUE(ReportedFaults().empty());
}

}  // namespace
}  // namespace UiLib
