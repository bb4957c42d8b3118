// A skin archive made in memory for tests: files by name, PNG pictures drawn with cairo.
#pragma once

#include <cairo.h>
#include <zip.h>

#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "UiLib/CImageCache.h"
#include "UiLib/ResourceArchive.h"

namespace uilibtest {

inline std::vector<uint8_t> MakeZip(const std::map<std::string, std::string>& files) {
    zip_error_t error;
    zip_error_init(&error);
    zip_source_t* src = zip_source_buffer_create(nullptr, 0, 0, &error);
    zip_t* z = zip_open_from_source(src, ZIP_TRUNCATE, &error);
    zip_source_keep(src);
    for (const auto& [name, data] : files) {
        void* copy = malloc(data.size() + 1);
        memcpy(copy, data.data(), data.size());
        zip_source_t* s = zip_source_buffer(z, copy, data.size(), 1);
        zip_file_add(z, name.c_str(), s, ZIP_FL_OVERWRITE);
    }
    zip_close(z);
    std::vector<uint8_t> bytes;
    zip_source_open(src);
    zip_source_seek(src, 0, SEEK_END);
    const zip_int64_t size = zip_source_tell(src);
    zip_source_seek(src, 0, SEEK_SET);
    bytes.resize(static_cast<size_t>(size));
    zip_source_read(src, bytes.data(), bytes.size());
    zip_source_close(src);
    zip_source_free(src);
    zip_error_fini(&error);
    return bytes;
}

// A PNG of w x h whose pixels `draw` paints.
inline std::string MakePng(int w, int h, const std::function<void(cairo_t*)>& draw) {
    cairo_surface_t* s = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, w, h);
    cairo_t* cr = cairo_create(s);
    draw(cr);
    cairo_destroy(cr);
    std::string out;
    cairo_surface_write_to_png_stream(
        s,
        [](void* closure, const unsigned char* data, unsigned int length) {
            static_cast<std::string*>(closure)->append(reinterpret_cast<const char*>(data), length);
            return CAIRO_STATUS_SUCCESS;
        },
        &out);
    cairo_surface_destroy(s);
    return out;
}

// Makes an archive of `files` current for the life of the object; the previous one comes back.
class ScopedArchive {
  public:
    explicit ScopedArchive(const std::map<std::string, std::string>& files)
        : previous_(UiLib::CResourceArchive::Current()) {
        UiLib::CResourceArchive::SetCurrent(UiLib::CResourceArchive::OpenCopy(MakeZip(files)));
        UiLib::CImageCache::Clear();
    }
    ~ScopedArchive() {
        UiLib::CResourceArchive::SetCurrent(previous_);
        UiLib::CImageCache::Clear();
    }

  private:
    std::shared_ptr<UiLib::CResourceArchive> previous_;
};

}  // namespace uilibtest
