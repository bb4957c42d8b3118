// Fuzzes the contact export scan, the rows built from its records and their merge: no read
// outside the input, fields in order inside their record, and whatever the input, the merge only
// ever adds contacts.
#include <cstdint>
#include <string>

#include "data/ContactMerge.h"
#include "data/ContactRows.h"
#include "data/ExportScan.h"
#include "data/MergeSupport.h"
#include "engine/BackupEngine.h"
#include "tests/data/FuzzSupport.h"

namespace {

// Any change of the schema (a table dropped or made) changes its version.
const char kSchema[] = "PRAGMA schema_version;";
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
        fuzzsupport::Check(record.text.data() >= input.data() &&
                           record.text.data() + record.text.size() <= input.data() + input.size());
        fuzzsupport::Check(!record.text.empty() && record.text.back() == '\r');
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

    testkit::Database& db = fuzzsupport::SharedImage(Image());
    static const auto schema = db.Rows(kSchema);
    static const auto kept = db.Rows(kKept);
    tolvane::BackupEngine engine;
    fuzzsupport::MergeAndUndo(db, [&] {
        tolvane::MergeContactExport(engine, db.Get(), input);
        fuzzsupport::Check(db.Rows(kSchema) == schema);
        fuzzsupport::Check(db.Rows(kKept) == kept);
    });
    return 0;
}
