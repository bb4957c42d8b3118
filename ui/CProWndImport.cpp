#include "ui/CProWndImport.h"

#include "engine/BackupEngine.h"
#include "platform/Strings.h"
#include "ui/CMainWnd.h"

namespace tolvane {

namespace {

constexpr const wchar_t* kAnalyzingTips =
    L"Analyzing your iOS device, it will take some time, please wait...";
constexpr const wchar_t* kRestoringTips =
    L"Restoring your iOS device, it will take some time, please wait...";

}  // namespace

CProWndImport::CProWndImport(CMainWnd& main, uint32_t categories, std::wstring password,
                             std::wstring smsPath, std::wstring contactsPath)
    : CProgressWnd(main, "xml\\ProWndImport.xml", "UIProWndImport"),
      categories_(categories),
      password_(std::move(password)),
      smsPath_(std::move(smsPath)),
      contactsPath_(std::move(contactsPath)) {}

void CProWndImport::InitWindow() {
    CProgressWnd::InitWindow();
    tips_ = UiLib::UiRef<UiLib::CTextUI>(pm_.FindControl("LblTips"));
}

int CProWndImport::ImportPhase() const {
    std::lock_guard lock(State().lock);
    return phase_;
}

int32_t CProWndImport::RunOperation(BackupEngine& engine, bool deviceEncrypted) {
    {
        std::lock_guard lock(State().lock);
        phase_ = 0;
    }
    report_ = ImportReport{};
    // The paths as the file system names them (the chosen files exist under exactly these bytes).
    const std::string sms = platform::PathToBytes(smsPath_);
    const std::string contacts = platform::PathToBytes(contactsPath_);
    const std::string password = platform::WideToAnsi(password_);
    return ImportData(engine, sms.c_str(), contacts.c_str(),
                      deviceEncrypted ? password.c_str() : nullptr, categories_, &report_);
}

int32_t CProWndImport::CancelValue() const {
    return kImportCancelValue;
}

ProgressResult CProWndImport::ResultOf(int32_t engineResult) const {
    const ProgressResult r = ToProgressResult(engineResult);
    return r == kProgressCancelled ? kProgressFailed : r;
}

void CProWndImport::OnPhase(bool isBackup) {
    if (isBackup && phase_ == 0) {
        phase_ = 1;
        tips_.With([](UiLib::CTextUI& t) { t.SetText(kAnalyzingTips); });
    } else if (!isBackup && phase_ != 2) {
        // The work backup goes onto the phone now: no cancel from here to the end of the run
        // (also when the backup reported nothing). The bar keeps its value; it moves again once
        // the restore's percentage passes it.
        phase_ = 2;
        SetCancelEnabledLocked(false);
        tips_.With([](UiLib::CTextUI& t) { t.SetText(kRestoringTips); });
    }
}

std::wstring CProWndImport::CancelQuestion() const {
    return L"Are you sure you want to cancel importing?";
}

std::wstring CProWndImport::DoneDetail() const {
    return DescribeImportForBox(report_);
}

std::wstring DescribeImportForBox(const ImportReport& report) {
    std::wstring out;
    auto add = [&out](bool merged, const MergeTally& tally, bool sms) {
        if (!merged) {
            return;
        }
        ImportReport one;
        (sms ? one.smsMerged : one.contactsMerged) = true;
        (sms ? one.sms : one.contacts) = tally;
        if (!out.empty()) {
            out += L"\n";
        }
        out += platform::Utf8ToWide(DescribeImport(one));
    };
    add(report.smsMerged, report.sms, true);
    add(report.contactsMerged, report.contacts, false);
    return out;
}

UiLib::UINT RunImportWindow(CMainWnd& main, uint32_t categories, const std::wstring& password,
                            const std::wstring& smsPath, const std::wstring& contactsPath) {
    CProWndImport window(main, categories, password, smsPath, contactsPath);
    return RunProgressWindow(main, window, 500, 300,
                             {L"The selected data are imported completely!",
                              L"Sorry, the selected data are imported unsuccessfully!"},
                             [&main] { main.GoHome(); });
}

}  // namespace tolvane
