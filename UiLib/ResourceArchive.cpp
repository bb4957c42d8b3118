#include "UiLib/ResourceArchive.h"

#include <zip.h>

#include <map>

#include "UiLib/Diagnostics.h"

namespace UiLib {
namespace {

struct ResourceTable {
    std::mutex mutex;
    std::map<std::pair<int, std::string>, std::span<const uint8_t>> entries;
    std::shared_ptr<CResourceArchive> current;
};

ResourceTable& Table() {
    static ResourceTable table;
    return table;
}

}  // namespace

void RegisterResource(int id, const std::string& type, std::span<const uint8_t> bytes) {
    std::lock_guard lock(Table().mutex);
    Table().entries[{id, type}] = bytes;
}

std::optional<std::span<const uint8_t>> FindResource(int id, const std::string& type) {
    std::lock_guard lock(Table().mutex);
    auto it = Table().entries.find({id, type});
    if (it == Table().entries.end()) {
        return std::nullopt;
    }
    return it->second;
}

std::shared_ptr<CResourceArchive> CResourceArchive::Open(std::span<const uint8_t> bytes) {
    // libzip reads no bytes as an empty archive; for the skin that is a truncated resource.
    if (bytes.empty()) {
        ReportFault("empty skin archive");
        return nullptr;
    }
    zip_error_t error;
    zip_error_init(&error);
    zip_source_t* src = zip_source_buffer_create(bytes.data(), bytes.size(), 0, &error);
    if (src == nullptr) {
        ReportFault(std::string("cannot read the skin archive: ") + zip_error_strerror(&error));
        zip_error_fini(&error);
        return nullptr;
    }
    ::zip* z = zip_open_from_source(src, ZIP_RDONLY | ZIP_CHECKCONS, &error);
    if (z == nullptr) {
        ReportFault(std::string("damaged skin archive: ") + zip_error_strerror(&error));
        zip_source_free(src);
        zip_error_fini(&error);
        return nullptr;
    }
    zip_error_fini(&error);
    std::shared_ptr<CResourceArchive> archive(new CResourceArchive());
    archive->zip_ = z;
    return archive;
}

std::shared_ptr<CResourceArchive> CResourceArchive::OpenCopy(std::vector<uint8_t> bytes) {
    // The bytes move into a holder first so the span handed to libzip stays valid.
    auto holder = std::make_shared<std::vector<uint8_t>>(std::move(bytes));
    auto archive = Open(*holder);
    if (archive) {
        archive->owned_ = std::move(*holder);
        // std::vector move keeps the buffer, so the source libzip reads from is unchanged.
    }
    return archive;
}

CResourceArchive::~CResourceArchive() {
    if (zip_ != nullptr) {
        zip_discard(zip_);
    }
}

std::string CResourceArchive::NormalizeName(const std::string& name) {
    std::string out = name;
    for (char& c : out) {
        if (c == '\\') {
            c = '/';
        }
    }
    while (out.starts_with("./")) {
        out.erase(0, 2);
    }
    while (out.starts_with("/")) {
        out.erase(0, 1);
    }
    return out;
}

std::optional<std::vector<uint8_t>> CResourceArchive::Read(const std::string& name) const {
    std::string key = NormalizeName(name);
    std::lock_guard lock(mutex_);
    zip_stat_t st;
    zip_stat_init(&st);
    if (zip_stat(zip_, key.c_str(), 0, &st) != 0 || (st.valid & ZIP_STAT_SIZE) == 0) {
        return std::nullopt;
    }
    // A declared size beyond any skin file is a damaged entry, not a reason to allocate it.
    constexpr zip_uint64_t kMaxEntry = 64u << 20;
    if (st.size > kMaxEntry) {
        ReportFault("skin file too large: " + key);
        return std::nullopt;
    }
    zip_file_t* f = zip_fopen(zip_, key.c_str(), 0);
    if (f == nullptr) {
        ReportFault("cannot open skin file " + key + ": " + zip_strerror(zip_));
        return std::nullopt;
    }
    std::vector<uint8_t> data(st.size);
    zip_int64_t got = data.empty() ? 0 : zip_fread(f, data.data(), data.size());
    zip_fclose(f);
    if (got < 0 || static_cast<zip_uint64_t>(got) != st.size) {
        ReportFault("damaged skin file " + key);
        return std::nullopt;
    }
    return data;
}

bool CResourceArchive::Contains(const std::string& name) const {
    std::lock_guard lock(mutex_);
    return zip_name_locate(zip_, NormalizeName(name).c_str(), 0) >= 0;
}

std::vector<std::string> CResourceArchive::Names() const {
    std::lock_guard lock(mutex_);
    std::vector<std::string> names;
    zip_int64_t n = zip_get_num_entries(zip_, 0);
    for (zip_int64_t i = 0; i < n; ++i) {
        if (const char* s = zip_get_name(zip_, static_cast<zip_uint64_t>(i), 0)) {
            names.emplace_back(s);
        }
    }
    return names;
}

bool CResourceArchive::UseResource(int id, const std::string& type) {
    auto bytes = FindResource(id, type);
    if (!bytes) {
        ReportFault("missing resource " + std::to_string(id) + " of type " + type);
        return false;
    }
    auto archive = Open(*bytes);
    if (!archive) {
        return false;
    }
    SetCurrent(std::move(archive));
    return true;
}

void CResourceArchive::SetCurrent(std::shared_ptr<CResourceArchive> archive) {
    std::lock_guard lock(Table().mutex);
    Table().current = std::move(archive);
}

std::shared_ptr<CResourceArchive> CResourceArchive::Current() {
    std::lock_guard lock(Table().mutex);
    return Table().current;
}

}  // namespace UiLib
