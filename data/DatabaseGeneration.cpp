#include "data/DatabaseGeneration.h"

#include "engine/BackupEngine.h"
#include "platform/Results.h"

namespace tolvane {

int32_t CheckDatabaseFitsPhone(BackupEngine& engine, const std::string& path, DataCategory category,
                               const std::string& productVersion) {
    const int phone = IosMajorOf(productVersion);
    if (phone == 0) {
        return 0;  // the phone's generation is not known: nothing to compare with
    }
    const int needed = RequiredIosMajor(path, category);
    if (needed <= phone) {
        return 0;
    }
    engine.SetLastErrorText(NewerGenerationText(category, needed, productVersion));
    return engine.NoteFailure(platform::IMPORT_BAD_FILE, platform::Failure::UnusableDatabase);
}

}  // namespace tolvane
