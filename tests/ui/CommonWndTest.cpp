// The notice about the missing usbmuxd service and the link table: its texts on this system,
// the page its link opens, and the addresses the table gives for the menu's pages.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "UiLib/OffscreenHost.h"
#include "app/LinkTable.h"
#include "app/ProfileFile.h"
#include "platform/Strings.h"
#include "tests/ui/DialogsSupport.h"
#include "ui/CCommonWnd.h"
#include "ui/OpenLink.h"
#include "ui/WindowSettings.h"

namespace tolvane {
namespace {

using UiLib::OffscreenHost;

std::wstring TextOf(UiLib::WindowImplBase& wnd, const std::string& name) {
    UiLib::CControlUI* c = wnd.GetPaintManager().FindControl(name);
    return c != nullptr ? c->GetText() : L"<missing>";
}

using CommonWndTest = uitest::DialogTest;

TEST_F(CommonWndTest, TellsALinuxUserThatUsbmuxdIsMissingAndLinksToHowToInstallIt) {
    auto& main = Main();
    CCommonWnd notice;
    EXPECT_EQ(notice.GetWindowClassName(), "UICommonWnd");
    notice.Create(&main, 570, 220);
    const std::wstring guide =
        L"file://" + platform::PathToWide(ProgramFolder()) + L"Help/index.html#usbmuxd";
    Script({[&] {
        const std::wstring text = TextOf(notice, "TxtNotice");
        EXPECT_NE(text.find(L"usbmuxd service"), std::wstring::npos);
        EXPECT_NE(text.find(L"Debian package usbmuxd"), std::wstring::npos);
        EXPECT_EQ(text.find(L"iTunes"), std::wstring::npos);
        EXPECT_EQ(TextOf(notice, "LblDownload").find(L"iTunes"), std::wstring::npos);
        EXPECT_EQ(TextOf(notice, "BtnUrlItunes"), L"the user guide.");
        EXPECT_EQ(OffscreenHost::StateOf(notice).bounds.Width(), 570);
        EXPECT_EQ(OffscreenHost::StateOf(notice).bounds.Height(), 220);
        if (const char* dir = std::getenv("TOLVANE_TEST_ARTIFACTS")) {
            host_.SavePng(notice, std::string(dir) + "/common-wnd.png");
        }
        // The link opens the guide's page and leaves the notice open.
        EXPECT_TRUE(host_.Click(notice, "BtnUrlItunes"));
        host_.PumpMessages();
        EXPECT_FALSE(notice.IsClosed());
        EXPECT_EQ(host_.OpenedUrls(), std::vector<std::wstring>{guide});
        return host_.Click(notice, "okbtn");
    }});
    EXPECT_EQ(notice.ShowModal(), 1u);

    CCommonWnd again;
    again.Create(&main, 570, 220);
    Script({[&] { return host_.Click(again, "closebtn"); }});
    EXPECT_EQ(again.ShowModal(), 2u);
}

TEST_F(CommonWndTest, TheShippedGuideHasEverySectionTheTableOpens) {
    const std::string guide = uitest::ShippedResource("Help/index.html");
    for (const char* id : {"usbmuxd", "questions", "about", "support", "backup", "restore",
                           "import", "encrypted", "folders"}) {
        EXPECT_NE(guide.find(std::string("id=\"") + id + "\""), std::string::npos) << id;
    }
    const ProfileFile config = ProfileFile::Parse(uitest::ShippedResource("config.ini"));
    for (const char* page : {"1", "2", "5", "6", "usbmuxd"}) {
        const auto value = config.GetString("Links", page, 2048);
        ASSERT_TRUE(value) << page;
        const size_t hash = value->find('#');
        if (hash != std::string::npos) {
            EXPECT_NE(guide.find("id=\"" + value->substr(hash + 1) + "\""), std::string::npos)
                << *value;
        }
    }
}

TEST_F(CommonWndTest, TheMenusPagesComeFromTheLinkTable) {
    const std::wstring folder = L"file://" + platform::PathToWide(ProgramFolder());
    const AppSettings& settings = WindowSettings();
    EXPECT_EQ(LinkAddress(settings, 1), folder + L"Help/index.html");
    EXPECT_EQ(LinkAddress(settings, 2), folder + L"Help/index.html#questions");
    EXPECT_EQ(LinkAddress(settings, 5), folder + L"Help/index.html#about");
    EXPECT_EQ(LinkAddress(settings, 6), folder + L"Help/index.html#support");
    for (int other : {0, 3, 4, 7, -1}) {
        EXPECT_EQ(LinkAddress(settings, other), L"") << other;
        EXPECT_FALSE(OpenLinkPage(other));
    }
    EXPECT_TRUE(OpenLinkPage(6));
    EXPECT_EQ(host_.OpenedUrls(), std::vector<std::wstring>{folder + L"Help/index.html#support"});

    // The table is configuration: a web address, an absolute file, an emptied page, and the
    // defaults where config.ini has no [Links] at all.
    ASSERT_EQ(ProfileFile::WriteString(ConfigPath(), "Links", "5", "https://example.org/a?b=1#c"),
              0);
    ASSERT_EQ(ProfileFile::WriteString(ConfigPath(), "Links", "2", "/opt/guide/faq page.html#x"),
              0);
    ASSERT_EQ(ProfileFile::WriteString(ConfigPath(), "Links", "6", ""), 0);
    ReloadSettings();
    EXPECT_EQ(LinkAddress(WindowSettings(), 5), L"https://example.org/a?b=1#c");
    EXPECT_EQ(LinkAddress(WindowSettings(), 2), L"file:///opt/guide/faq%20page.html#x");
    EXPECT_EQ(LinkAddress(WindowSettings(), 6), L"");
    EXPECT_FALSE(OpenLinkPage(6));

    testenv::WriteFile(ConfigPath(), "[DefaultLanguage]\nDefault=English\n");
    ReloadSettings();
    EXPECT_EQ(LinkAddress(WindowSettings(), 1), folder + L"Help/index.html");
    EXPECT_EQ(LinkAddress(WindowSettings(), "usbmuxd"), folder + L"Help/index.html#usbmuxd");
}

TEST(ResolveLink, KeepsAddressesAndMakesFileAddressesOfPaths) {
    EXPECT_EQ(ResolveLink("mailto:help@example.org", "/p/"), L"mailto:help@example.org");
    EXPECT_EQ(ResolveLink("Help/a b.html", "/opt/Tol vane/"),
              L"file:///opt/Tol%20vane/Help/a%20b.html");
    EXPECT_EQ(ResolveLink("Help/ü.html#s", "/p/"), L"file:///p/Help/%C3%BC.html#s");
    EXPECT_EQ(ResolveLink("C:relative", "/p/"), L"file:///p/C%3Arelative");  // no scheme
    EXPECT_EQ(ResolveLink("", "/p/"), L"");
}

}  // namespace
}  // namespace tolvane
