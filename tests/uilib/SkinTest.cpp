// The skin of the product: every layout loads and paints without a fault, holds the controls,
// texts, groups, sizes and styles the windows ask for, and the pictures hold what the layouts and
// the windows point at.
#include <gtest/gtest.h>

#include <fstream>
#include <map>
#include <memory>
#include <sstream>

#include "UiLib/CButtonGifUI.h"
#include "UiLib/CContainerUI.h"
#include "UiLib/CDialogBuilder.h"
#include "UiLib/CEditUI.h"
#include "UiLib/CImageCache.h"
#include "UiLib/COptionUI.h"
#include "UiLib/CPaintManagerUI.h"
#include "UiLib/Diagnostics.h"
#include "UiLib/ResourceArchive.h"
#include "UiLib/SkinCheck.h"
#include "skin/Skin.h"
#include "tests/uilib/PixelProbe.h"

namespace UiLib {
namespace {

const std::vector<std::string> kLayouts = {"skin.xml",
                                           "VrtWndPanel.xml",
                                           "VrtWndBackup.xml",
                                           "VrtWndRestore.xml",
                                           "VrtWndImport.xml",
                                           "ElementPhone.xml",
                                           "ElementBackupFile.xml",
                                           "ElementBackupFileNull.xml",
                                           "ElementView.xml",
                                           "CommonWnd.xml",
                                           "DecryptionWnd.xml",
                                           "SettingsWnd.xml",
                                           "ViewWnd.xml",
                                           "ProWndBackup.xml",
                                           "ProWndRestore.xml",
                                           "ProWndImport.xml",
                                           "MessageBox_Error.xml",
                                           "MessageBox_Confirm.xml",
                                           "MessageBox_Information.xml",
                                           "MessageBox_Warning.xml",
                                           "MessageBox_Question.xml",
                                           "menu_assist.xml"};

const std::vector<std::string> kPictures = {"Controls.png",   "MainWnd.png", "Connection.png",
                                            "connecting.gif", "loading.gif", "loading_view.gif"};

class Skin : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        tolvane::skin::RegisterSkin();
        ASSERT_TRUE(CResourceArchive::UseResource(101, "ZIPRES"));
    }
    void SetUp() override {
        ClearReportedFaults();
        CImageCache::Clear();
    }
};

TEST_F(Skin, ArchiveHoldsEveryLayoutAndPicture) {
    auto archive = CResourceArchive::Current();
    for (const auto& l : kLayouts) {
        EXPECT_TRUE(archive->Contains("xml\\" + l)) << l;
    }
    for (const auto& p : kPictures) {
        EXPECT_TRUE(archive->Contains(p)) << p;
    }
    for (const char* dense : {"Controls@2x.png", "MainWnd@2x.png", "Connection@2x.png"}) {
        EXPECT_TRUE(archive->Contains(dense)) << dense;
    }
    EXPECT_EQ(archive->Names().size(), kLayouts.size() + kPictures.size() + 3);
}

TEST_F(Skin, EveryLayoutLoadsAndPaintsWithoutAFault) {
    for (const auto& l : kLayouts) {
        CPaintManagerUI pm;
        pm.AttachDialog(CDialogBuilder().Create("xml/" + l, &pm));
        ASSERT_NE(pm.GetRoot(), nullptr) << l;
        pm.SetClientSize(pm.GetInitSize());
        cairo_surface_t* s = pm.RenderToSurface();
        cairo_surface_destroy(s);
        EXPECT_EQ(ReportedFaults(), std::vector<std::string>{}) << l;
        ClearReportedFaults();
    }
}

TEST_F(Skin, ElementLayoutsBuildInsideTheMainWindowWithoutAFault) {
    CPaintManagerUI pm;
    pm.AttachDialog(CDialogBuilder().Create("xml\\skin.xml", &pm));
    for (const char* element :
         {"ElementPhone.xml", "ElementBackupFile.xml", "ElementBackupFileNull.xml"}) {
        std::unique_ptr<CControlUI> card(
            CDialogBuilder().Create(std::string("xml\\") + element, &pm));
        ASSERT_NE(card, nullptr) << element;
    }
    EXPECT_EQ(pm.GetInitSize(), (Size{900, 600}));
    EXPECT_EQ(ReportedFaults(), std::vector<std::string>{});
}

TEST_F(Skin, EveryControlTheWindowsAskForExists) {
    const std::map<std::string, std::vector<std::string>> wanted = {
        {"skin.xml",
         {"LblProductName",
          "TabMain",
          "BtnBackHome",
          "BtnMenu",
          "closebtn",
          "VLayoutPhone_0",
          "VLayoutPhone_1",
          "VLayoutPhone_2",
          "VLayoutPhone_3",
          "BtnRestoreFromBackup",
          "BtnRestoreFromiTunes",
          "BtnBackupPhone",
          "BtnImport",
          "RdPart_Backup",
          "RdFull_Backup",
          "ChkSMS_Backup",
          "ChkContacts_Backup",
          "ChkCalendar_Backup",
          "ChkCallLog_Backup",
          "ChkApps_Backup",
          "ChkPhoto_Backup",
          "ChkMusic_Backup",
          "ChkVideo_Backup",
          "BtnCopyBackup",
          "BtnCopyRestore",
          "BackupFileList",
          "RdPart_Restore",
          "RdFull_Restore",
          "ChkSMS_Restore",
          "ChkContacts_Restore",
          "ChkCalendar_Restore",
          "ChkCallLog_Restore",
          "ChkApps_Restore",
          "ChkPhoto_Restore",
          "ChkMusic_Restore",
          "ChkVideo_Restore",
          "LblBackupFileTitle",
          "TxtSMSNum_Restore",
          "TxtContactsNum_Restore",
          "BtnViewSMS_Restore",
          "BtnViewContacts_Restore",
          "BtnCopyImport",
          "EditSMS",
          "EditContact",
          "BtnImportSMS",
          "BtnImportContact",
          "LblSMS",
          "LblContact"}},
        {"ElementPhone.xml",
         {"LblPhoneName", "VLayoutPhoneStatus", "LblStatus", "GifConnecting", "BtnRetry"}},
        {"ElementBackupFile.xml", {"LblBackupName", "LblBackupDate", "LblBackupIcon"}},
        {"ElementBackupFileNull.xml", {"LblNoFile"}},
        {"ProWndBackup.xml", {"LblPercent", "progress", "BtnCancel", "closebtn"}},
        {"ProWndRestore.xml", {"LblTips", "LblPercent", "progress", "closebtn", "BtnCancel"}},
        {"ProWndImport.xml", {"LblTips", "LblPercent", "progress", "closebtn", "BtnCancel"}},
        {"ViewWnd.xml", {"TabMain", "TxtDescription", "ViewList", "closebtn", "BtnOK", "LblTip"}},
        {"DecryptionWnd.xml",
         {"TxtDescription", "LblPassword", "EditPassword", "BtnOK", "BtnCancel", "closebtn"}},
        {"SettingsWnd.xml", {"EditFolder", "BtnBrowes", "BtnOK", "BtnCancel", "closebtn"}},
        {"CommonWnd.xml", {"BtnUrlItunes", "okbtn", "closebtn"}},
        {"MessageBox_Error.xml", {"title", "message", "okbtn", "closebtn"}},
        {"MessageBox_Information.xml", {"title", "message", "okbtn", "closebtn"}},
        {"MessageBox_Confirm.xml", {"title", "message", "okbtn", "cancelbtn", "closebtn"}},
        {"MessageBox_Warning.xml", {"title", "message", "okbtn", "cancelbtn", "closebtn"}},
        {"MessageBox_Question.xml", {"title", "message", "okbtn", "cancelbtn", "closebtn"}},
        {"menu_assist.xml",
         {"menu_assist", "item_settings", "item_help", "item_language", "item_faq", "item_about",
          "item_support", "item_exit"}},
    };
    for (const auto& [layout, names] : wanted) {
        EXPECT_EQ(MissingControlNames("xml\\" + layout, names), std::vector<std::string>{})
            << layout;
    }
    EXPECT_EQ(MissingControlNames("xml/skin.xml", {"NoSuchControl"}),
              std::vector<std::string>{"NoSuchControl"});
    EXPECT_EQ(MissingStyles("xml/skin.xml",
                            {"ConnectOK", "Connecting", "LblConnectOK", "LblConnectError",
                             "LblConnectInfo", "ItunesIcon", "ItunesLockIcon", "BackupFileIcon"}),
              std::vector<std::string>{});
}

// The language file names controls of the windows; every key must be a control of its window.
TEST_F(Skin, LanguageFileKeysAreControlsOfTheirWindows) {
    std::ifstream in(std::string(TOLVANE_SOURCE_DIR) + "/app/resources/Languages/English.ini");
    ASSERT_TRUE(in);
    const std::map<std::string, std::string> layoutOf = {{"MessageBox", "MessageBox_Question.xml"},
                                                         {"MenuWnd", "menu_assist.xml"},
                                                         {"SettingsWnd", "SettingsWnd.xml"},
                                                         {"DecryptionWnd", "DecryptionWnd.xml"},
                                                         {"CommonWnd", "CommonWnd.xml"},
                                                         {"ViewWnd", "ViewWnd.xml"},
                                                         {"ProWndBackup", "ProWndBackup.xml"},
                                                         {"ProWndRestore", "ProWndRestore.xml"},
                                                         {"ProWndImport", "ProWndImport.xml"}};
    std::map<std::string, std::vector<std::string>> keys;
    std::string line;
    std::string section;
    while (std::getline(in, line)) {
        if (line.starts_with("[")) {
            section = line.substr(1, line.find(']') - 1);
        } else if (const size_t eq = line.find('=');
                   eq != std::string::npos && !line.starts_with(";")) {
            keys[section].push_back(line.substr(0, eq));
        }
    }
    int checked = 0;
    for (const auto& [sec, names] : keys) {
        auto it = layoutOf.find(sec);
        if (it == layoutOf.end()) {
            continue;  // [Messages] holds message texts, not controls
        }
        EXPECT_EQ(MissingControlNames("xml/" + it->second, names), std::vector<std::string>{})
            << sec;
        ++checked;
    }
    EXPECT_EQ(checked, static_cast<int>(layoutOf.size()));
}

TEST_F(Skin, WindowSizesCaptionsAndTexts) {
    const std::map<std::string, Size> sizes = {{"skin.xml", {900, 600}},
                                               {"CommonWnd.xml", {570, 220}},
                                               {"DecryptionWnd.xml", {500, 240}},
                                               {"SettingsWnd.xml", {550, 220}},
                                               {"ViewWnd.xml", {550, 350}},
                                               {"ProWndBackup.xml", {500, 250}},
                                               {"ProWndRestore.xml", {500, 300}},
                                               {"ProWndImport.xml", {500, 300}},
                                               {"MessageBox_Error.xml", {500, 220}}};
    for (const auto& [layout, size] : sizes) {
        CPaintManagerUI pm;
        pm.AttachDialog(CDialogBuilder().Create("xml/" + layout, &pm));
        EXPECT_EQ(pm.GetInitSize(), size) << layout;
        EXPECT_EQ(pm.GetCaptionRect(), (Rect{0, 0, 0, 40})) << layout;
    }
    CPaintManagerUI pm;
    pm.AttachDialog(CDialogBuilder().Create("xml/skin.xml", &pm));
    EXPECT_EQ(pm.GetMinInfo(), (Size{900, 600}));
    const std::map<std::string, std::wstring> texts = {
        {"BtnBackupPhone", L"Backup Up Your Phone"},
        {"BtnRestoreFromBackup", L"Restore From Backup"},
        {"BtnRestoreFromiTunes", L"Restore From iTunes"},
        {"BtnImport", L"Import SMS & Contacts"},
        {"RdPart_Backup", L"Backup SMS and Contacts"},
        {"RdFull_Backup", L"Full Backup"},
        {"ChkCallLog_Backup", L"Call logs"},
        {"BtnCopyBackup", L"Start Copy"},
        {"RdPart_Restore", L"Restore SMS and Contacts"},
        {"RdFull_Restore", L"Restore All"},
        {"BtnViewSMS_Restore", L"{f 3}{u}View{/u}{/f}"},
        {"BtnCopyRestore", L"Start Copy"},
        {"LblSMS", L"Please select SMS file:"},
        {"BtnImportContact", L"Import Contacts"},
        {"BtnCopyImport", L"Start Import"},
        {"LblProductName", L"Tolvane"}};
    for (const auto& [name, text] : texts) {
        CControlUI* c = pm.FindControl(name);
        ASSERT_NE(c, nullptr) << name;
        EXPECT_EQ(c->GetText(), text) << name;
    }
    EXPECT_EQ(dynamic_cast<CEditUI*>(pm.FindControl("EditSMS"))->GetTipValue(), L"SMS file");
    EXPECT_EQ(dynamic_cast<CEditUI*>(pm.FindControl("EditContact"))->GetMaxChar(), 256);
    // The mode buttons start disabled; the radio buttons pair up in their groups.
    EXPECT_FALSE(pm.FindControl("BtnBackupPhone")->IsEnabled());
    EXPECT_EQ(dynamic_cast<COptionUI*>(pm.FindControl("RdFull_Backup"))->GetGroup(), "GrpBackType");
    EXPECT_EQ(dynamic_cast<COptionUI*>(pm.FindControl("RdPart_Restore"))->GetGroup(),
              "GrpRestoreType");
    EXPECT_EQ(dynamic_cast<COptionUI*>(pm.FindControl("ChkSMS_Backup"))->GetGroup(), "");
    EXPECT_FALSE(pm.FindControl("BtnBackHome")->IsVisible());
    // The four tabs in order, each registered under its virtual window.
    auto* tabs = dynamic_cast<CContainerUI*>(pm.FindControl("TabMain"));
    ASSERT_EQ(tabs->GetCount(), 4);
    const char* panels[] = {"VrtWndPanel", "VrtWndBackup", "VrtWndRestore", "VrtWndImport"};
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(dynamic_cast<CContainerUI*>(tabs->GetItemAt(i))->GetOwnVirtualWnd(), panels[i]);
    }
}

TEST_F(Skin, PicturesHoldTheIconsWhereTheWindowsLookForThem) {
    cairo_surface_t* controls = CImageCache::GetImage("Controls.png", std::nullopt);
    ASSERT_NE(controls, nullptr);
    EXPECT_GE(cairo_image_surface_get_width(controls), 503);
    EXPECT_GE(cairo_image_surface_get_height(controls), 526);
    auto opaqueIn = [&](int l, int t, int r, int b) {
        int count = 0;
        for (int y = t; y < b; ++y) {
            for (int x = l; x < r; ++x) {
                count += (uilibtest::PixelAt(controls, x, y) >> 24) > 200 ? 1 : 0;
            }
        }
        return count;
    };
    EXPECT_GT(opaqueIn(359, 38, 375, 54), 10);  // the language mark
    for (int x : {291, 344, 397, 450}) {        // the message box icons
        EXPECT_GT(opaqueIn(x, 473, x + 53, 526), 53 * 53 / 2) << x;
        EXPECT_EQ(uilibtest::PixelAt(controls, x, 473) >> 24, 0u) << x;  // round, not square
    }
    for (const char* gif : {"connecting.gif", "loading.gif", "loading_view.gif"}) {
        EXPECT_GT(CImageCache::GetGif(gif).size(), 4u) << gif;
    }
    EXPECT_EQ(ReportedFaults(), std::vector<std::string>{});
}

}  // namespace
}  // namespace UiLib
