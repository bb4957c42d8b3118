// The settings window: what it shows, the folder chooser reached through the host's seam, what
// OK stores (a typed folder, created; the default for an empty text), and the folders it refuses
// with a message while it stays open.
#include <gtest/gtest.h>

#include <string>

#include "UiLib/CEditUI.h"
#include "UiLib/OffscreenHost.h"
#include "app/ProfileFile.h"
#include "platform/Files.h"
#include "platform/Strings.h"
#include "tests/ui/DialogsSupport.h"
#include "ui/CSettingsWnd.h"

namespace tolvane {
namespace {

using UiLib::OffscreenHost;
using UiLib::WindowImplBase;

std::wstring TextOf(WindowImplBase& wnd, const std::string& name) {
    UiLib::CControlUI* c = wnd.GetPaintManager().FindControl(name);
    return c != nullptr ? c->GetText() : L"<missing>";
}

class SettingsWndTest : public uitest::DialogTest {
  protected:
    std::optional<std::string> StoredFolder() const {
        return ProfileFile::Load(ConfigPath()).GetString("Folder", "UserFolder", 260);
    }
    std::string Home() const { return home_.Home(); }
    std::wstring WHome() const { return platform::PathToWide(home_.Home()); }

    // Types `folder`, presses OK and expects a message naming it and `reason`, the window open.
    std::vector<std::function<bool()>> RefusedSteps(CSettingsWnd& wnd, const std::wstring& folder,
                                                    const std::wstring& reason) {
        return {
            [&wnd, this, folder] {
                wnd.GetPaintManager().FindControl("EditFolder")->SetText(folder);
                EXPECT_TRUE(host_.Click(wnd, "BtnOK"));
                return true;
            },
            [&wnd, this, folder, reason] {
                WindowImplBase* box = WindowImplBase::TopModal();
                EXPECT_NE(box, &wnd);
                if (box == nullptr || box == &wnd) {
                    return true;
                }
                const std::wstring text = TextOf(*box, "message");
                EXPECT_NE(text.find(reason), std::wstring::npos) << platform::WideToUtf8(text);
                if (!reason.starts_with(L"Please")) {
                    EXPECT_NE(text.find(folder), std::wstring::npos) << platform::WideToUtf8(text);
                }
                return host_.Click(*box, "okbtn");
            },
            [&wnd, folder] {
                EXPECT_FALSE(wnd.IsClosed());  // still open, the text still there to correct
                EXPECT_EQ(TextOf(wnd, "EditFolder"), folder);
                return true;
            },
        };
    }
};

TEST_F(SettingsWndTest, ShowsTheConfiguredFolderOrElseTheDefault) {
    auto& main = Main();
    {
        CSettingsWnd wnd;
        wnd.SetMainWnd(&main);
        EXPECT_EQ(wnd.GetWindowClassName(), "UISettingsWnd");
        wnd.Create(&main, 550, 220);
        Script({[&] {
            EXPECT_EQ(TextOf(wnd, "EditFolder"), main.defaultBackupRoot);
            EXPECT_EQ(TextOf(wnd, "BtnBrowes"), L"Browes");
            EXPECT_EQ(OffscreenHost::StateOf(wnd).bounds.Width(), 550);
            EXPECT_EQ(OffscreenHost::StateOf(wnd).bounds.Height(), 220);
            return host_.Click(wnd, "BtnCancel");
        }});
        EXPECT_EQ(wnd.ShowModal(), 2u);
    }
    // A configured folder that does not exist is shown unchanged.
    ASSERT_EQ(ProfileFile::WriteString(ConfigPath(), "Folder", "UserFolder", Home() + "/later"), 0);
    CSettingsWnd wnd;
    wnd.SetMainWnd(&main);
    wnd.Create(&main, 550, 220);
    Script({[&] {
        EXPECT_EQ(TextOf(wnd, "EditFolder"), WHome() + L"/later");
        return host_.Click(wnd, "closebtn");
    }});
    EXPECT_EQ(wnd.ShowModal(), 2u);
    EXPECT_FALSE(platform::PathExists(Home() + "/later"));  // Cancel creates nothing
}

TEST_F(SettingsWndTest, ALongFolderIsShownWithItsEndInView) {
    auto& main = Main();
    const std::string folder =
        Home() + "/Documents/Phone backups/the family phone of the summer house/2026";
    ASSERT_EQ(ProfileFile::WriteString(ConfigPath(), "Folder", "UserFolder", folder), 0);
    CSettingsWnd wnd;
    wnd.SetMainWnd(&main);
    wnd.Create(&main, 550, 220);
    Script({[&] {
        auto* edit = dynamic_cast<UiLib::CEditUI*>(wnd.GetPaintManager().FindControl("EditFolder"));
        EXPECT_NE(edit, nullptr);
        if (edit == nullptr) {
            return true;
        }
        cairo_surface_destroy(host_.Render(wnd));
        // The end of the path (the folder's own name) is what the field shows.
        EXPECT_GT(edit->GetScrollOffset(), 0);
        const UiLib::Rect field = edit->GetPos();
        EXPECT_TRUE(host_.ClickAt(wnd, {field.right - 12, field.top + field.Height() / 2}));
        EXPECT_GE(edit->GetCaret(), static_cast<int>(folder.size()) - 3);
        return host_.Click(wnd, "BtnCancel");
    }});
    EXPECT_EQ(wnd.ShowModal(), 2u);
}

TEST_F(SettingsWndTest, BrowseAsksTheFolderChooserAndOkCreatesAndStoresTheFolder) {
    auto& main = Main();
    CSettingsWnd wnd;
    wnd.SetMainWnd(&main);
    wnd.Create(&main, 550, 220);
    const std::wstring picked = WHome() + L"/Backups/Phone é";
    Script({
        [&] {
            host_.QueueChoice(std::nullopt);  // the user cancels the chooser first
            EXPECT_TRUE(host_.Click(wnd, "BtnBrowes"));
            EXPECT_EQ(TextOf(wnd, "EditFolder"), main.defaultBackupRoot);
            host_.QueueChoice(picked);
            EXPECT_TRUE(host_.Click(wnd, "BtnBrowes"));
            EXPECT_EQ(TextOf(wnd, "EditFolder"), picked);
            const auto calls = host_.ChooserCalls();
            EXPECT_EQ(calls.size(), 2u);
            for (const auto& call : calls) {
                EXPECT_EQ(call.request.kind, UiLib::ChooserRequest::Kind::Folder);
                EXPECT_EQ(call.request.title, L"Select backup folder location.");
                EXPECT_EQ(call.request.initial, main.defaultBackupRoot);  // the text shown
                EXPECT_EQ(call.owner, wnd.GetNativeWindow());
            }
            return host_.Click(wnd, "BtnOK");
        },
    });
    EXPECT_EQ(wnd.ShowModal(), 1u);
    EXPECT_TRUE(platform::FolderExists(platform::PathToBytes(picked)));
    EXPECT_EQ(StoredFolder(), platform::PathToBytes(picked));
    EXPECT_EQ(main.userBackupFolder, picked);
}

TEST_F(SettingsWndTest, AnEmptyFolderStoresTheDefaultFolder) {
    auto& main = Main();
    main.userBackupFolder = WHome() + L"/old";
    ASSERT_EQ(ProfileFile::WriteString(ConfigPath(), "Folder", "UserFolder", Home() + "/old"), 0);
    CSettingsWnd wnd;
    wnd.SetMainWnd(&main);
    wnd.Create(&main, 550, 220);
    Script({[&] {
        wnd.GetPaintManager().FindControl("EditFolder")->SetText(L"");
        return host_.Click(wnd, "BtnOK");
    }});
    EXPECT_EQ(wnd.ShowModal(), 1u);
    EXPECT_EQ(StoredFolder(), platform::PathToBytes(main.defaultBackupRoot));
    EXPECT_EQ(main.userBackupFolder, main.defaultBackupRoot);
}

TEST_F(SettingsWndTest, AFolderThatCannotBeMadeOrWrittenIsReportedAndTheWindowStaysOpen) {
    testenv::WriteFile(Home() + "/a-file", "x");
    auto& main = Main();
    main.userBackupFolder = WHome() + L"/kept";
    CSettingsWnd wnd;
    wnd.SetMainWnd(&main);
    wnd.Create(&main, 550, 220);
    std::vector<std::function<bool()>> steps;
    auto add = [&](std::vector<std::function<bool()>> more) {
        steps.insert(steps.end(), more.begin(), more.end());
    };
    add(RefusedSteps(wnd, WHome() + L"/a-file/backups",
                     L"A part of the path is a file, not a folder."));
    add(RefusedSteps(wnd, WHome() + L"/a-file", L"A part of the path is a file, not a folder."));
    // An existing folder nothing can be written in (even for the superuser).
    add(RefusedSteps(wnd, L"/proc", L"cannot be created or written to"));
    add(RefusedSteps(wnd, L"backups", L"Please enter the full path"));
    add(RefusedSteps(wnd, L"/" + std::wstring(300, L'x'), L"cannot be created or written to"));
    steps.push_back([&] {
        // Enter closes nothing; Escape cancels.
        host_.PressKey(wnd, UiLib::VK_RETURN);
        host_.PumpMessages();
        EXPECT_FALSE(wnd.IsClosed());
        host_.PressKey(wnd, UiLib::VK_ESCAPE);
        return true;
    });
    Script(steps);
    EXPECT_EQ(wnd.ShowModal(), 2u);
    EXPECT_EQ(PendingSteps(), 0u);
    EXPECT_EQ(StoredFolder(), std::nullopt);  // nothing was stored
    EXPECT_EQ(main.userBackupFolder, WHome() + L"/kept");
    EXPECT_FALSE(platform::PathExists("backups"));
}

TEST_F(SettingsWndTest, TheLanguageFileGivesTheTextsAndTheChoosersTitle) {
    WriteLanguageFile(
        "[SettingsWnd]\nBtnBrowes=Choose...\nBtnOK=Save\n[Messages]\n"
        "SelectBackupFolder=Where shall backups go?\n");
    auto& main = Main();
    CSettingsWnd wnd;
    wnd.SetMainWnd(&main);
    wnd.Create(&main, 550, 220);
    Script({[&] {
        EXPECT_EQ(TextOf(wnd, "BtnBrowes"), L"Choose...");
        EXPECT_EQ(TextOf(wnd, "BtnOK"), L"Save");
        EXPECT_TRUE(host_.Click(wnd, "BtnBrowes"));
        EXPECT_EQ(host_.ChooserCalls().at(0).request.title, L"Where shall backups go?");
        return host_.Click(wnd, "BtnCancel");
    }});
    EXPECT_EQ(wnd.ShowModal(), 2u);
}

}  // namespace
}  // namespace tolvane
