#include "ui/OpenLink.h"

#include <cstdio>

#include "UiLib/Host.h"
#include "app/LinkTable.h"
#include "platform/Strings.h"
#include "ui/WindowSettings.h"

namespace tolvane {
namespace {

bool Open(const std::wstring& address) {
    UiLib::IUiHost* host = UiLib::IUiHost::Current();
    if (address.empty() || host == nullptr) {
        return false;
    }
    const bool opened = host->OpenUrl(address);
    if (!opened) {
        std::printf("cannot open %s\n", platform::WideToUtf8(address).c_str());
    }
    return opened;
}

}  // namespace

bool OpenLinkPage(int pageNumber) {
    return Open(LinkAddress(WindowSettings(), pageNumber));
}

bool OpenLinkPage(const std::string& page) {
    return Open(LinkAddress(WindowSettings(), page));
}

}  // namespace tolvane
