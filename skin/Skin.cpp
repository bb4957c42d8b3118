#include "skin/Skin.h"

#include "UiLib/ResourceArchive.h"

extern "C" {
extern const unsigned char tolvane_skin_zip[];
extern const unsigned long tolvane_skin_zip_size;
}

namespace tolvane::skin {

std::span<const uint8_t> ArchiveBytes() {
    return {tolvane_skin_zip, tolvane_skin_zip_size};
}

void RegisterSkin() {
    UiLib::RegisterResource(kResourceId, kResourceType, ArchiveBytes());
}

}  // namespace tolvane::skin
