// Fuzzes the message export scan and the merge of its records: no read outside the input, every
// record a piece of the input ending in CR, and whatever the input, the merge only ever adds
// messages and their chat joins.
#include <cstdint>
#include <string>

#include "data/ExportScan.h"
#include "data/MergeSupport.h"
#include "data/MessageMerge.h"
#include "tests/data/FuzzSupport.h"

namespace {

const char kKept[] =
    "select * from handle union all select ROWID, guid, text, handle_id, date from message "
    "where ROWID=5;";

const std::string& Image() {
    static const std::string image = fuzzsupport::BuildImage([](const std::string& path) {
        if (!testkit::CreateSmsDb(path)) {
            return false;
        }
        testkit::Database db(path);
        testkit::MessageRow keep;
        keep.rowid = 5;
        keep.text = "keep";
        keep.handleId = 1;
        return testkit::AddCorrespondent(db, {1, "+15550000001"}) &&
               testkit::AddCorrespondent(db, {2, "+15550000002"}) && testkit::AddMessage(db, keep);
    });
    return image;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const fuzzsupport::ExactBuffer buffer(data, size);
    const std::string_view input = buffer.View();
    // The input itself as a value list, so the literal reader meets every shape of list.
    fuzzsupport::CheckLiterals(input);
    tolvane::ScanMessageExport(input, [&](const tolvane::MessageRecord& record) {
        fuzzsupport::CheckRecord(input, record.text);
        std::string values(record.text);
        tolvane::ExportQuotingToSql(values);
        fuzzsupport::CheckLiterals(values);
        return true;
    });

    fuzzsupport::CheckMergeOnlyAdds<tolvane::MessageExportMerger>(Image(), kKept, input);
    return 0;
}
