// Fuzzes the contact export scan, the rows built from its records and their merge: no read
// outside the input, fields in order inside their record, and whatever the input, the merge only
// ever adds contacts.
#include <cstdint>
#include <string>

#include "data/ContactMerge.h"
#include "data/ContactRows.h"
#include "data/ExportScan.h"
#include "data/MergeSupport.h"
#include "tests/data/FuzzSupport.h"

namespace {

const char kKept[] =
    "select * from ABPersonFullTextSearch_content where docid=1 union all "
    "select UID, record_id, property, identifier, label, value, guid, 0,0,0,0,0,0,0,0,0,0,0,0,0,"
    "0,0,0,0 from ABMultiValue where UID=1;";

const std::string& Image() {
    static const std::string image = fuzzsupport::BuildImage([](const std::string& path) {
        if (!testkit::CreateAddressBookDb(path)) {
            return false;
        }
        testkit::Database db(path);
        return testkit::AddContact(db, {1, "Ann", "Lee", {}, "note", "5551234567 1", {}});
    });
    return image;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const fuzzsupport::ExactBuffer buffer(data, size);
    const std::string_view input = buffer.View();
    tolvane::ScanContactExport(input, [&](const tolvane::ContactRecord& record) {
        fuzzsupport::CheckRecord(input, record.text);
        for (int k = 0; k < tolvane::kContactFields; ++k) {
            fuzzsupport::Check(record.begin[k] <= record.end[k] &&
                               record.end[k] < record.text.size());
            if (k > 0) {
                fuzzsupport::Check(record.begin[k] == record.end[k - 1] + 1);
            }
        }
        const std::string extra = tolvane::ExtraText(record);
        std::string row = tolvane::SearchRowValues(record, extra);
        tolvane::ExportQuotingToSql(row);
        fuzzsupport::CheckLiterals(row);
        row = tolvane::PersonRowValues(record, extra, 0);
        tolvane::ExportQuotingToSql(row);
        fuzzsupport::CheckLiterals(row);
        (void)tolvane::PhoneToken(record);
        return true;
    });

    fuzzsupport::CheckMergeOnlyAdds<tolvane::ContactExportMerger>(Image(), kKept, input);
    return 0;
}
