// The typed accessors generated from the layouts: every named control of every layout of the
// skin resolves to the class its accessor returns (a misspelt or retyped control fails here, and
// a call of a removed one fails the build), the generator follows includes as the loader does,
// and it refuses layouts the loader would not build as written.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <set>

#include "UiLib/CContainerUI.h"
#include "UiLib/CDialogBuilder.h"
#include "UiLib/CMenuElementUI.h"
#include "UiLib/CPaintManagerUI.h"
#include "UiLib/Diagnostics.h"
#include "UiLib/ElementKinds.h"
#include "UiLib/ResourceArchive.h"
#include "skin/Layouts.h"
#include "skin/Skin.h"
#include "skin/layouts/ElementPhone.h"
#include "skin/layouts/VrtWndBackup.h"
#include "skin/layouts/menu_assist.h"
#include "skin/layouts/skin.h"
#include "tests/support/Programs.h"
#include "tests/support/TestEnv.h"

namespace UiLib {
namespace {

class Accessors : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        tolvane::skin::RegisterSkin();
        ASSERT_TRUE(CResourceArchive::UseResource(101, "ZIPRES"));
    }
    void SetUp() override { ClearReportedFaults(); }
};

// The names FindControl can reach in a tree (menu sub-items are not in it).
void Reachable(CControlUI* c, std::set<std::string>& names) {
    if (!c->GetName().empty()) {
        names.insert(c->GetName());
    }
    if (CContainerUI* container = c->AsContainer()) {
        for (int i = 0; i < container->GetCount(); ++i) {
            Reachable(container->GetItemAt(i), names);
        }
    }
}

TEST_F(Accessors, EveryNamedControlOfTheSkinHasTheClassItsAccessorReturns) {
    const auto layouts = tolvane::skin::GeneratedLayouts();
    size_t archiveLayouts = 0;
    for (const auto& name : CResourceArchive::Current()->Names()) {
        archiveLayouts += name.starts_with("xml/") && name.ends_with(".xml") ? 1 : 0;
    }
    EXPECT_EQ(layouts.size(), archiveLayouts);
    size_t checked = 0;
    for (const auto& layout : layouts) {
        CPaintManagerUI pm;
        pm.AttachDialog(CDialogBuilder().Create(layout.file, &pm));
        CControlUI* root = pm.GetRoot();
        ASSERT_NE(root, nullptr) << layout.file;
        std::set<std::string> generated;
        for (size_t i = 0; i < layout.count; ++i) {
            const auto& c = layout.controls[i];
            generated.insert(c.name);
            CControlUI* control = root->FindControl(c.name);
            ASSERT_NE(control, nullptr) << layout.file << " " << c.name;
            EXPECT_TRUE(c.isKind(control)) << layout.file << " " << c.name << " " << c.element;
            EXPECT_EQ(FindElementKind(c.element)->uiClass, control->GetClass()) << c.name;
            EXPECT_TRUE(c.viaAccessor(root)) << layout.file << " " << c.name;
            ++checked;
        }
        std::set<std::string> built;
        Reachable(root, built);
        EXPECT_EQ(generated, built) << layout.file;
    }
    EXPECT_GT(checked, 150u);
    EXPECT_EQ(ReportedFaults(), std::vector<std::string>{});
}

TEST_F(Accessors, TheTableOfElementsIsWhatTheLoaderMakes) {
    for (const ElementKind& kind : kElementKinds) {
        std::unique_ptr<CControlUI> c(CDialogBuilder::CreateControl(kind.element));
        ASSERT_NE(c, nullptr) << kind.element;
        EXPECT_EQ(c->GetClass(), kind.uiClass);
        EXPECT_EQ(c->AsContainer() != nullptr, kind.container) << kind.element;
    }
    EXPECT_EQ(CDialogBuilder::CreateControl("Slider"), nullptr);
    EXPECT_EQ(FindElementKind("Slider"), nullptr);
}

TEST_F(Accessors, OverAWindowOrOverASubtree) {
    CPaintManagerUI pm;
    pm.AttachDialog(CDialogBuilder().Create("xml\\skin.xml", &pm));
    // A tab panel's accessor over the main window's tree: its controls are included there.
    tolvane::skin::VrtWndBackupLayout backup(pm);
    COptionUI* part = backup.RdPart_Backup();
    EXPECT_EQ(part, pm.FindControl("RdPart_Backup"));
    EXPECT_EQ(part->GetGroup(), "GrpBackType");
    tolvane::skin::SkinLayout main(pm);
    EXPECT_EQ(main.TabMain()->GetCount(), 4);
    EXPECT_EQ(main.BtnCopyBackup(), backup.BtnCopyBackup());
    // The phone card, built outside the window.
    std::unique_ptr<CControlUI> card(CDialogBuilder().Create("xml\\ElementPhone.xml", &pm));
    tolvane::skin::ElementPhoneLayout parts(card.get());
    EXPECT_EQ(parts.LblStatus(), card->FindControl("LblStatus"));
    EXPECT_EQ(parts.GifConnecting()->GetClass(), "ButtonGifUI");
    EXPECT_EQ(tolvane::skin::ElementPhoneLayout::kFile, std::string("xml\\ElementPhone.xml"));
    // The menu's items; the classes follow the elements.
    CPaintManagerUI menuPm;
    menuPm.AttachDialog(CDialogBuilder().Create("xml\\menu_assist.xml", &menuPm));
    tolvane::skin::MenuAssistLayout menu(menuPm);
    CMenuElementUI* exit = menu.item_exit();
    ASSERT_NE(exit, nullptr);
    EXPECT_EQ(exit->GetText(), L"Exit");
}

TEST_F(Accessors, AControlMissingFromTheTreeIsReportedAndStopsADebugBuild) {
    std::unique_ptr<CControlUI> other(CDialogBuilder().Create("xml\\ProWndBackup.xml"));
    tolvane::skin::ElementPhoneLayout wrong(other.get());
    // Release builds: null and a reported fault; debug builds: the assertion stops the program.
    EXPECT_DEBUG_DEATH(
        {
            EXPECT_EQ(wrong.LblStatus(), nullptr);
            EXPECT_EQ(ReportedFaults(), std::vector<std::string>{
                                            "xml\\ElementPhone.xml: control LblStatus is missing"});
        },
        "missing or of another class");
}

class Generator : public ::testing::Test {
  protected:
    void Write(const std::string& name, const std::string& text) {
        std::filesystem::create_directories(std::filesystem::path(dir_ / name).parent_path());
        std::ofstream(dir_ / name) << text;
    }
    testenv::CommandRun Run() {
        return testenv::RunProgram({UILIB_LAYOUTGEN, dir_ / "xml", dir_ / "out"});
    }
    std::string Read(const std::string& name) {
        std::ifstream in(dir_ / name);
        return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    }
    testenv::TempDir dir_{"uilib-layoutgen"};
};

TEST_F(Generator, FollowsIncludesLeavesOutSubItemsAndNamesTheFirstOfTwins) {
    Write("xml/main_wnd.xml", R"(<Window size="10,10"><Font name="x" size="9" />
        <VerticalLayout name="Root"><Include source="xml/part.xml" /><Include source="xml\part.xml" />
        <Menu name="m"><MenuElement name="item"><MenuElement name="sub" /></MenuElement></Menu>
        <Label name="class" /><Control name="9lives" /></VerticalLayout></Window>)");
    Write("xml/part.xml", R"(<HorizontalLayout><Button name="BtnGo" /></HorizontalLayout>)");
    const auto run = Run();
    ASSERT_EQ(run.exitCode, 0) << run.output;
    const std::string header = Read("out/skin/layouts/main_wnd.h");
    EXPECT_NE(header.find("class MainWndLayout : public UiLib::LayoutAccessor"), std::string::npos);
    EXPECT_NE(header.find("UiLib::CVerticalLayoutUI* Root() const"), std::string::npos);
    EXPECT_NE(header.find("UiLib::CButtonUI* BtnGo() const"), std::string::npos);
    EXPECT_NE(header.find("UiLib::CMenuElementUI* item() const"), std::string::npos);
    EXPECT_EQ(header.find("sub()"), std::string::npos);
    EXPECT_NE(header.find("UiLib::CLabelUI* class_() const"), std::string::npos);
    EXPECT_NE(header.find("UiLib::CControlUI* _9lives() const"), std::string::npos);
    EXPECT_EQ(header.find("BtnGo() const"), header.rfind("BtnGo() const"));  // once
    EXPECT_NE(Read("out/AllLayouts.cpp").find("MainWndLayout::kFile"), std::string::npos);
}

TEST_F(Generator, RefusesWhatTheLoaderWouldNotBuild) {
    const std::vector<std::pair<std::string, std::string>> cases = {
        {R"(<Window><VerticalLayout><Slider name="s" /></VerticalLayout></Window>)",
         "unknown element Slider"},
        {R"(<Window><VerticalLayout><Include source="xml/none.xml" /></VerticalLayout></Window>)",
         "missing include xml/none.xml"},
        {R"(<Window><VerticalLayout><Label name="a" /><Button name="a" /></VerticalLayout></Window>)",
         "the name a is a Label"},
        {R"(<Window><VerticalLayout>)", "malformed XML"},
        {R"(<Window><VerticalLayout><Label name="a-b" /><Label name="a_b" /></VerticalLayout></Window>)",
         "the names a-b and a_b make the same method a_b"},
    };
    for (const auto& [layout, message] : cases) {
        Write("xml/bad.xml", layout);
        const auto run = Run();
        EXPECT_EQ(run.exitCode, 1) << layout;
        EXPECT_NE(run.output.find("bad.xml: " + message), std::string::npos) << run.output;
        EXPECT_FALSE(std::filesystem::exists(dir_ / "out/skin/layouts/bad.h")) << layout;
    }
}

}  // namespace
}  // namespace UiLib
