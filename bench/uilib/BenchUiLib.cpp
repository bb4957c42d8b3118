// Loading and first paint of the main window (skin.xml) in the offscreen host: prints the time
// of the first run (cold: archive opened, pictures decoded), the median of later runs (warm
// caches), and the memory of the process afterwards. Target: under 50 ms.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "UiLib/CImageCache.h"
#include "UiLib/OffscreenHost.h"
#include "UiLib/ResourceArchive.h"
#include "UiLib/WindowImplBase.h"
#include "skin/Skin.h"

namespace {

class MainWindow : public UiLib::WindowImplBase {
  public:
    std::string GetSkinFile() override { return "xml\\skin.xml"; }
    std::string GetWindowClassName() const override { return "TolvaneWnd"; }
};

double LoadAndPaint(UiLib::OffscreenHost& host) {
    const auto start = std::chrono::steady_clock::now();
    MainWindow window;
    window.Create(nullptr, "Tolvane", 0, 0, 0, 0);
    host.PumpMessages();
    cairo_surface_t* s = host.Render(window);
    const auto end = std::chrono::steady_clock::now();
    cairo_surface_destroy(s);
    return std::chrono::duration<double, std::milli>(end - start).count();
}

long StatusKb(const char* key) {
    std::ifstream in("/proc/self/status");
    std::string line;
    while (std::getline(in, line)) {
        if (line.rfind(key, 0) == 0) {
            return std::stol(line.substr(std::string(key).size()));
        }
    }
    return -1;
}

}  // namespace

int main() {
    tolvane::skin::RegisterSkin();
    UiLib::CResourceArchive::UseResource(tolvane::skin::kResourceId, tolvane::skin::kResourceType);
    UiLib::OffscreenHost host;
    const double cold = LoadAndPaint(host);
    std::vector<double> warm;
    for (int i = 0; i < 20; ++i) {
        warm.push_back(LoadAndPaint(host));
    }
    std::sort(warm.begin(), warm.end());
    std::printf("main window load + first paint, cold: %.1f ms\n", cold);
    std::printf(
        "main window load + first paint, warm median of %zu: %.1f ms (min %.1f, max %.1f)\n",
        warm.size(), warm[warm.size() / 2], warm.front(), warm.back());
    std::printf("target: under 50 ms — %s\n", cold < 50.0 ? "met" : "NOT met");
    std::printf("memory after: RSS %ld kB (peak %ld kB)\n", StatusKb("VmRSS:"), StatusKb("VmHWM:"));
    return 0;
}
