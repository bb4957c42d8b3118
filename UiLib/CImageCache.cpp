#include "UiLib/CImageCache.h"

#include <gdk-pixbuf/gdk-pixbuf.h>

#include <cstring>
#include <map>
#include <mutex>

#include "UiLib/Diagnostics.h"
#include "UiLib/ResourceArchive.h"

namespace UiLib {
namespace {

void ClearLocked(struct Cache& c);

struct Cache {
    ~Cache() { ClearLocked(*this); }
    std::mutex mutex;
    std::shared_ptr<CResourceArchive> archive;  // the archive the entries came from
    std::map<std::pair<std::string, uint64_t>, cairo_surface_t*> images;  // null: failed
    std::map<std::string, std::vector<GifFrame>> gifs;
};

Cache& TheCache() {
    static Cache cache;
    return cache;
}

void ClearLocked(Cache& c) {
    for (auto& [key, s] : c.images) {
        if (s != nullptr) {
            cairo_surface_destroy(s);
        }
    }
    c.images.clear();
    for (auto& [key, frames] : c.gifs) {
        for (auto& f : frames) {
            cairo_surface_destroy(f.surface);
        }
    }
    c.gifs.clear();
}

// Entries belong to one archive; a new current archive empties the cache.
std::shared_ptr<CResourceArchive> SyncArchive(Cache& c) {
    auto current = CResourceArchive::Current();
    if (current != c.archive) {
        ClearLocked(c);
        c.archive = current;
    }
    return current;
}

struct PngReader {
    const std::vector<uint8_t>* bytes;
    size_t offset;
};

cairo_status_t ReadPng(void* closure, unsigned char* data, unsigned int length) {
    auto* r = static_cast<PngReader*>(closure);
    if (r->offset + length > r->bytes->size()) {
        return CAIRO_STATUS_READ_ERROR;
    }
    std::memcpy(data, r->bytes->data() + r->offset, length);
    r->offset += length;
    return CAIRO_STATUS_SUCCESS;
}

// Pixels of the mask colour (alpha ignored) become transparent.
cairo_surface_t* ApplyMask(cairo_surface_t* src, Color mask) {
    const int w = cairo_image_surface_get_width(src);
    const int h = cairo_image_surface_get_height(src);
    cairo_surface_t* out = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, w, h);
    cairo_t* cr = cairo_create(out);
    cairo_set_source_surface(cr, src, 0, 0);
    cairo_set_operator(cr, CAIRO_OPERATOR_SOURCE);
    cairo_paint(cr);
    cairo_destroy(cr);
    cairo_surface_flush(out);
    unsigned char* data = cairo_image_surface_get_data(out);
    const int stride = cairo_image_surface_get_stride(out);
    for (int y = 0; y < h; ++y) {
        auto* row = reinterpret_cast<uint32_t*>(data + static_cast<ptrdiff_t>(y) * stride);
        for (int x = 0; x < w; ++x) {
            if ((row[x] >> 24) == 0xFF && (row[x] & 0xFFFFFF) == (mask & 0xFFFFFF)) {
                row[x] = 0;
            }
        }
    }
    cairo_surface_mark_dirty(out);
    return out;
}

cairo_surface_t* PixbufToSurface(GdkPixbuf* pixbuf) {
    const int w = gdk_pixbuf_get_width(pixbuf);
    const int h = gdk_pixbuf_get_height(pixbuf);
    const int channels = gdk_pixbuf_get_n_channels(pixbuf);
    const int srcStride = gdk_pixbuf_get_rowstride(pixbuf);
    const guchar* src = gdk_pixbuf_read_pixels(pixbuf);
    cairo_surface_t* out = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, w, h);
    if (cairo_surface_status(out) != CAIRO_STATUS_SUCCESS) {
        return out;
    }
    cairo_surface_flush(out);
    unsigned char* dst = cairo_image_surface_get_data(out);
    const int dstStride = cairo_image_surface_get_stride(out);
    for (int y = 0; y < h; ++y) {
        const guchar* s = src + static_cast<ptrdiff_t>(y) * srcStride;
        auto* d = reinterpret_cast<uint32_t*>(dst + static_cast<ptrdiff_t>(y) * dstStride);
        for (int x = 0; x < w; ++x, s += channels) {
            const uint32_t a = channels == 4 ? s[3] : 255;
            // cairo wants premultiplied alpha.
            const uint32_t r = s[0] * a / 255;
            const uint32_t g = s[1] * a / 255;
            const uint32_t b = s[2] * a / 255;
            d[x] = (a << 24) | (r << 16) | (g << 8) | b;
        }
    }
    cairo_surface_mark_dirty(out);
    return out;
}

bool SameImage(cairo_surface_t* a, cairo_surface_t* b) {
    const int w = cairo_image_surface_get_width(a);
    const int h = cairo_image_surface_get_height(a);
    if (w != cairo_image_surface_get_width(b) || h != cairo_image_surface_get_height(b)) {
        return false;
    }
    cairo_surface_flush(a);
    cairo_surface_flush(b);
    const int stride = cairo_image_surface_get_stride(a);
    return stride == cairo_image_surface_get_stride(b) &&
           std::memcmp(cairo_image_surface_get_data(a), cairo_image_surface_get_data(b),
                       static_cast<size_t>(stride) * static_cast<size_t>(h)) == 0;
}

}  // namespace

cairo_surface_t* CImageCache::DecodePng(const std::vector<uint8_t>& bytes) {
    PngReader reader{&bytes, 0};
    cairo_surface_t* s = cairo_image_surface_create_from_png_stream(ReadPng, &reader);
    if (cairo_surface_status(s) != CAIRO_STATUS_SUCCESS) {
        cairo_surface_destroy(s);
        return nullptr;
    }
    return s;
}

std::vector<GifFrame> CImageCache::DecodeGif(const std::vector<uint8_t>& bytes) {
    std::vector<GifFrame> frames;
    GdkPixbufLoader* loader = gdk_pixbuf_loader_new_with_type("gif", nullptr);
    if (loader == nullptr) {
        return frames;
    }
    GError* error = nullptr;
    bool ok = gdk_pixbuf_loader_write(loader, bytes.data(), bytes.size(), &error) != FALSE;
    if (error != nullptr) {
        g_error_free(error);
        error = nullptr;
    }
    ok = (gdk_pixbuf_loader_close(loader, &error) != FALSE) && ok;
    if (error != nullptr) {
        g_error_free(error);
    }
    GdkPixbufAnimation* anim = ok ? gdk_pixbuf_loader_get_animation(loader) : nullptr;
    if (anim != nullptr) {
        // Step through the animation with a synthetic clock: each frame once, in order.
        // gdk-pixbuf steps animations only through GTimeVal; a synthetic clock needs it.
        G_GNUC_BEGIN_IGNORE_DEPRECATIONS
        GTimeVal t{0, 0};
        GdkPixbufAnimationIter* it = gdk_pixbuf_animation_get_iter(anim, &t);
        // The iterator loops and may hand out one shared picture for every frame, so the loop
        // is complete when the picture shown is the first frame again (or, for a GIF that
        // plays once, when the iterator has no further delay).
        for (int i = 0; i < 256; ++i) {
            GdkPixbuf* pb = gdk_pixbuf_animation_iter_get_pixbuf(it);
            if (pb == nullptr) {
                break;
            }
            cairo_surface_t* surface = PixbufToSurface(pb);
            if (i > 0 && SameImage(surface, frames.front().surface)) {
                cairo_surface_destroy(surface);
                break;
            }
            const int delay = gdk_pixbuf_animation_iter_get_delay_time(it);
            frames.push_back({surface, delay > 0 ? delay : 100});
            if (delay <= 0) {
                break;  // a still picture, or the end of a GIF that plays once
            }
            g_time_val_add(&t, static_cast<glong>(delay) * 1000);
            gdk_pixbuf_animation_iter_advance(it, &t);
        }
        G_GNUC_END_IGNORE_DEPRECATIONS
        g_object_unref(it);
    }
    g_object_unref(loader);
    return frames;
}

cairo_surface_t* CImageCache::GetImage(const std::string& file, std::optional<Color> mask,
                                       bool quiet) {
    Cache& c = TheCache();
    std::lock_guard lock(c.mutex);
    auto archive = SyncArchive(c);
    const uint64_t maskKey = mask ? (0x100000000ull | *mask) : 0;
    const auto key = std::make_pair(file, maskKey);
    if (auto it = c.images.find(key); it != c.images.end()) {
        return it->second;
    }
    cairo_surface_t* surface = nullptr;
    std::optional<std::vector<uint8_t>> bytes;
    if (archive) {
        bytes = archive->Read(file);
    }
    if (!bytes) {
        // A name the archive does not hold is not kept: layouts can name any number of them,
        // and asking the archive again costs a look-up in its index.
        if (!quiet) {
            ReportFault("missing picture " + file);
        }
        return nullptr;
    }
    if ((surface = DecodePng(*bytes)) == nullptr) {
        ReportFault("damaged picture " + file);
    } else if (mask) {
        cairo_surface_t* masked = ApplyMask(surface, *mask);
        cairo_surface_destroy(surface);
        surface = masked;
    }
    c.images[key] = surface;
    return surface;
}

const std::vector<GifFrame>& CImageCache::GetGif(const std::string& file) {
    Cache& c = TheCache();
    std::lock_guard lock(c.mutex);
    auto archive = SyncArchive(c);
    if (auto it = c.gifs.find(file); it != c.gifs.end()) {
        return it->second;
    }
    std::vector<GifFrame> frames;
    std::optional<std::vector<uint8_t>> bytes;
    if (archive) {
        bytes = archive->Read(file);
    }
    if (!bytes) {
        ReportFault("missing picture " + file);
        static const std::vector<GifFrame> kNone;
        return kNone;
    }
    frames = DecodeGif(*bytes);
    if (frames.empty()) {
        ReportFault("damaged picture " + file);
    }
    return c.gifs[file] = std::move(frames);
}

void CImageCache::Clear() {
    Cache& c = TheCache();
    std::lock_guard lock(c.mutex);
    ClearLocked(c);
    c.archive.reset();
}

}  // namespace UiLib
