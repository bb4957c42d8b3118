#include "UiLib/Host.h"

#include <atomic>

namespace UiLib {
namespace {
std::atomic<IUiHost*> currentHost{nullptr};
}

IUiHost* IUiHost::Current() {
    return currentHost.load();
}
void IUiHost::SetCurrent(IUiHost* host) {
    currentHost.store(host);
}

}  // namespace UiLib
