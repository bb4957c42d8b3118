#include "tests/ui/ImportFilesSupport.h"

#include <algorithm>

#include "tests/tools/ExportWriter.h"
#include "tests/tools/RealSchemaDb.h"

namespace uitest {

std::string WriteMessageExport(const std::string& dir, int count, int firstRowid, Rows* rows) {
    const std::string db = dir + "/export-source-sms.db";
    const std::string csv = dir + "/sms.csv";
    if (!testkit::CreateSmsDb(db)) {
        return {};
    }
    {
        testkit::Database source(db);
        const std::string shift = std::to_string(firstRowid - 1);
        if (!testkit::FillSms(source, 4, count) ||
            !source.Exec("UPDATE message SET ROWID = ROWID + " + shift +
                         ", guid = 'import-' || (ROWID + " + shift + ");")) {
            return {};
        }
    }
    if (!testkit::WriteSmsExport(db, csv)) {
        return {};
    }
    if (rows != nullptr) {
        *rows = testkit::DumpRows(db, kMessageRows);
        // An export carries double quotes inside texts as apostrophes.
        for (std::string& row : *rows) {
            std::replace(row.begin(), row.end(), '"', '\'');
        }
    }
    return csv;
}

std::string WriteContactsDatabase(const std::string& dir, int count, Rows* rows) {
    const std::string db = dir + "/AddressBook.sqlitedb";
    if (!testkit::CreateAddressBookDb(db)) {
        return {};
    }
    {
        testkit::Database source(db);
        if (!testkit::FillContacts(source, count)) {
            return {};
        }
    }
    if (rows != nullptr) {
        *rows = testkit::DumpRows(db, kContactRows);
    }
    return db;
}

Rows JoinedRows(Rows before, const Rows& added) {
    before.insert(before.end(), added.begin(), added.end());
    return before;
}

}  // namespace uitest
