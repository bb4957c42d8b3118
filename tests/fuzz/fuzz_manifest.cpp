// The Manifest.mbdb walk of the program and the reader of the decryption tool on arbitrary bytes:
// neither may read outside the data, both must agree on which manifests are whole, and a stripped
// manifest must walk again to exactly the records that were kept.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "backuptool/MbdbReader.h"
#include "store/Manifest.h"

namespace {

void Check(bool condition) {
    if (!condition) {
        std::abort();
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view manifest(reinterpret_cast<const char*>(data), size);

    size_t records = 0;
    size_t kept = 0;
    size_t last = 6;
    const int32_t walked =
        tolvane::WalkMbdbRecords(manifest, [&](const tolvane::MbdbRecordSpan& r) {
            Check(r.begin == last && r.begin < r.end && r.end <= manifest.size());
            Check(r.digestField > r.begin && r.digestField + 2 + r.digestLength <= r.end);
            last = r.end;
            ++records;
            if (!r.domain.starts_with("AppDomain")) {
                ++kept;
            }
        });

    std::string error;
    size_t toolRecords = 0;
    const bool toolOk = backuptool::ReadMbdbRecords(
        manifest, [&](const backuptool::MbdbFileRecord&) { ++toolRecords; }, error);
    Check((walked == 0) == toolOk);
    if (toolOk) {
        Check(toolRecords == records);
    }

    std::string stripped;
    const int32_t strip = tolvane::StripAppDomainRecordsInMemory(manifest, stripped);
    Check(strip == walked);
    if (strip == 0) {
        size_t again = 0;
        Check(tolvane::WalkMbdbRecords(stripped, [&](const tolvane::MbdbRecordSpan& r) {
                  Check(!r.domain.starts_with("AppDomain"));
                  ++again;
              }) == 0);
        Check(again == kept);
        Check(stripped.substr(0, 6) == manifest.substr(0, 6));
    }

    size_t offset = 0;
    bool found = false;
    const int32_t patch = tolvane::FindDigestToPatch(manifest, "sms.db", offset, found);
    if (found) {
        Check(patch == 0 && offset + 20 <= manifest.size());
    }
    return 0;
}
