#include <gtest/gtest.h>

#include <map>

#include "platform/Volumes.h"

using namespace platform;

namespace {

constexpr uint64_t GiB = 1024ULL * 1024 * 1024;
constexpr uint64_t kThreshold = 5 * GiB;

// Volumes given by the test: a root and its free bytes (nullopt: unknown). A path belongs to the
// root with the longest matching prefix.
class FakeVolumes : public VolumeSource {
  public:
    explicit FakeVolumes(std::vector<std::pair<std::string, std::optional<uint64_t>>> volumes)
        : volumes_(std::move(volumes)) {
        SetVolumeSourceForTesting(this);
    }
    ~FakeVolumes() override { SetVolumeSourceForTesting(nullptr); }
    std::vector<std::string> Roots() override {
        std::vector<std::string> roots;
        for (auto& v : volumes_) {
            roots.push_back(v.first);
        }
        return roots;
    }
    std::optional<uint64_t> FreeBytesTotal(const std::string& path) override {
        const std::pair<std::string, std::optional<uint64_t>>* best = nullptr;
        for (auto& v : volumes_) {
            if (path.rfind(v.first, 0) == 0 &&
                (best == nullptr || v.first.size() > best->first.size())) {
                best = &v;
            }
        }
        return best != nullptr ? best->second : std::nullopt;
    }
    std::optional<uint64_t> FreeBytesAvailable(const std::string& path) override {
        return FreeBytesTotal(path);
    }

  private:
    std::vector<std::pair<std::string, std::optional<uint64_t>>> volumes_;
};

const std::string kAppData = "/home/u/.local/share";

}  // namespace

TEST(WorkVolume, EnoughSpaceOnTheAppDataVolumeKeepsItThere) {
    FakeVolumes v({{"/", 6 * GiB}, {"/data", 50 * GiB}});
    EXPECT_EQ(ChooseWorkFolderBase(kAppData, kThreshold), kAppData);
}

TEST(WorkVolume, TooLittleThereTakesTheRootWithTheMostFreeSpace) {
    FakeVolumes v({{"/", 4 * GiB}, {"/data", 20 * GiB}, {"/other", 10 * GiB}});
    EXPECT_EQ(ChooseWorkFolderBase(kAppData, kThreshold), "/data");
}

TEST(WorkVolume, ExactlyTheThresholdIsNotEnough) {
    FakeVolumes v({{"/", kThreshold}, {"/data", 6 * GiB}});
    EXPECT_EQ(ChooseWorkFolderBase(kAppData, kThreshold), "/data");
}

TEST(WorkVolume, EqualFreeSpacePicksTheFirstListed) {
    FakeVolumes v({{"/home", 1 * GiB}, {"/b", 8 * GiB}, {"/a", 8 * GiB}});
    EXPECT_EQ(ChooseWorkFolderBase(kAppData, kThreshold), "/b");
}

TEST(WorkVolume, ZeroOrUnknownFreeSpaceIsNeverPicked) {
    FakeVolumes v({{"/x", std::nullopt}, {"/y", 0}, {"/z", 1}});
    EXPECT_EQ(ChooseWorkFolderBase(kAppData, kThreshold), "/z");
    FakeVolumes none({{"/x", std::nullopt}, {"/y", 0}});
    EXPECT_EQ(ChooseWorkFolderBase(kAppData, kThreshold), "");
}

TEST(WorkVolume, SystemSourceListsWritableLocalVolumes) {
    SystemVolumeSource system;
    const auto roots = system.Roots();
    ASSERT_FALSE(roots.empty());
    for (const auto& r : roots) {
        EXPECT_NE(r.rfind("/proc", 0), 0u) << r;
        EXPECT_NE(r.rfind("/sys", 0), 0u) << r;
    }
    // The free space of a path that does not exist yet is that of its nearest existing folder.
    EXPECT_EQ(system.FreeBytesTotal("/tmp/does/not/exist").has_value(),
              system.FreeBytesTotal("/tmp").has_value());
    EXPECT_GE(*system.FreeBytesTotal("/tmp"), *system.FreeBytesAvailable("/tmp"));
}
