// The resource archive and the picture decoders with damaged input.
#include <gtest/gtest.h>

#include "UiLib/CDialogBuilder.h"
#include "UiLib/CImageCache.h"
#include "UiLib/CPaintManagerUI.h"
#include "UiLib/Diagnostics.h"
#include "UiLib/ResourceArchive.h"
#include "tests/uilib/TestArchive.h"

namespace UiLib {
namespace {

TEST(Archive, ReadsFilesByEitherSeparator) {
    auto bytes = uilibtest::MakeZip({{"xml/a.xml", "<Window/>"}, {"b.png", "x"}});
    auto archive = CResourceArchive::OpenCopy(bytes);
    ASSERT_NE(archive, nullptr);
    EXPECT_EQ(archive->Read("xml\\a.xml"),
              (std::vector<uint8_t>{'<', 'W', 'i', 'n', 'd', 'o', 'w', '/', '>'}));
    EXPECT_TRUE(archive->Contains("./xml/a.xml"));
    EXPECT_FALSE(archive->Read("xml/none.xml").has_value());
    EXPECT_EQ(CResourceArchive::NormalizeName("xml\\\\x.xml"), "xml//x.xml");
}

TEST(Archive, TruncatedOrGarbageArchivesAreRefusedAndReported) {
    ClearReportedFaults();
    auto bytes = uilibtest::MakeZip({{"xml/a.xml", std::string(5000, 'a')}});
    for (size_t cut : {bytes.size() / 2, bytes.size() - 10, size_t{3}, size_t{0}}) {
        std::vector<uint8_t> part(bytes.begin(), bytes.begin() + static_cast<ptrdiff_t>(cut));
        EXPECT_EQ(CResourceArchive::OpenCopy(part), nullptr) << cut;
    }
    EXPECT_FALSE(ReportedFaults().empty());
}

TEST(Archive, ResourcesAreFoundByIdAndType) {
    static const std::vector<uint8_t> zip = uilibtest::MakeZip({{"xml/w.xml", "<Window/>"}});
    auto previous = CResourceArchive::Current();
    EXPECT_FALSE(CResourceArchive::UseResource(999, "ZIPRES"));
    RegisterResource(998, "ZIPRES", zip);
    EXPECT_TRUE(CResourceArchive::UseResource(998, "ZIPRES"));
    EXPECT_TRUE(CResourceArchive::Current()->Contains("xml/w.xml"));
    static const std::vector<uint8_t> junk(100, 7);
    RegisterResource(997, "ZIPRES", junk);
    EXPECT_FALSE(CResourceArchive::UseResource(997, "ZIPRES"));
    CResourceArchive::SetCurrent(previous);
}

TEST(Decoders, DamagedPicturesDecodeToNothing) {
    const std::string png = uilibtest::MakePng(8, 8, [](cairo_t* cr) {
        cairo_set_source_rgb(cr, 1, 0, 0);
        cairo_paint(cr);
    });
    const std::vector<uint8_t> whole(png.begin(), png.end());
    cairo_surface_t* ok = CImageCache::DecodePng(whole);
    ASSERT_NE(ok, nullptr);
    cairo_surface_destroy(ok);
    const std::vector<uint8_t> cut(png.begin(),
                                   png.begin() + static_cast<ptrdiff_t>(png.size() / 2));
    EXPECT_EQ(CImageCache::DecodePng(cut), nullptr);
    EXPECT_EQ(CImageCache::DecodePng({}), nullptr);
    EXPECT_TRUE(CImageCache::DecodeGif({'G', 'I', 'F', '8', '9', 'a', 1, 0}).empty());
    EXPECT_TRUE(CImageCache::DecodeGif(whole).empty());
}

TEST(Decoders, AWindowWithMissingPicturesStillBuildsAndPaints) {
    uilibtest::ScopedArchive archive({{"xml/w.xml", R"(<Window size="50,50"><VerticalLayout
        bkimage="gone.png"><ButtonGif normalgiffile="gone.gif" /></VerticalLayout></Window>)"},
                                      {"gone.gif", "GIF89a\x01"}});
    ClearReportedFaults();
    CPaintManagerUI pm;
    pm.AttachDialog(CDialogBuilder().Create("xml/w.xml", &pm));
    pm.SetClientSize({50, 50});
    for (int i = 0; i < 2; ++i) {
        cairo_surface_destroy(pm.RenderToSurface());
    }
    EXPECT_EQ(ReportedFaults(),
              (std::vector<std::string>{"missing picture gone.png", "damaged picture gone.gif"}));
}

}  // namespace
}  // namespace UiLib
