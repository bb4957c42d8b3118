// The import progress window: runs ImportData with the chosen files. An import first backs the
// phone up into the work backup (the analysing phase) and then restores it (the phone is being
// written): from then on the run cannot be cancelled, and "Cancel" and the close button stay
// disabled until it has ended. The bar keeps the highest value reached across the two phases.
#pragma once

#include <cstdint>
#include <string>

#include "UiLib/CTextUI.h"
#include "UiLib/UiRef.h"
#include "data/Import.h"
#include "ui/CProgressWnd.h"

namespace tolvane {

class CProWndImport : public CProgressWnd {
  public:
    // `smsPath` / `contactsPath`: the chosen files (empty for a category not imported).
    CProWndImport(CMainWnd& main, uint32_t categories, std::wstring password, std::wstring smsPath,
                  std::wstring contactsPath);

    // 0 before the run, 1 while the phone is backed up, 2 once it is being written.
    int ImportPhase() const;
    // What the run did with the records of the exports it merged (after the worker has ended).
    const ImportReport& Report() const { return report_; }

    std::wstring DoneDetail() const override;

  protected:
    uint32_t Categories() const override { return categories_; }
    int32_t RunOperation(BackupEngine& engine, bool deviceEncrypted) override;
    int32_t CancelValue() const override;
    // An import's cancel is -10 (a failure); 2 from an import is "file not found", never a
    // cancel, so it is a failure too rather than a run that ends without a word.
    ProgressResult ResultOf(int32_t engineResult) const override;
    void OnPhase(bool isBackup) override;
    std::wstring CancelQuestion() const override;
    void InitWindow() override;

  private:
    uint32_t categories_;
    std::wstring password_;
    std::wstring smsPath_;
    std::wstring contactsPath_;
    int phase_ = 0;  // under the progress lock
    UiLib::UiRef<UiLib::CTextUI> tips_;
    ImportReport report_;  // written by the worker, read after it has been joined
};

// What the callback returns once the user has confirmed the cancel of an import.
inline constexpr int32_t kImportCancelValue = -10;

// The one line per merged export that the done box adds ("messages: 3 added, 1 left out (1
// already present)"); empty when no export was merged (database files replace, not merge).
std::wstring DescribeImportForBox(const ImportReport& report);

// The start handler's run of an import: 500 x 300, the import texts; the ProgressResult.
UiLib::UINT RunImportWindow(CMainWnd& main, uint32_t categories, const std::wstring& password,
                            const std::wstring& smsPath, const std::wstring& contactsPath);

}  // namespace tolvane
