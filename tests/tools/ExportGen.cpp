// tolvane-exportgen: makes real-schema databases with test content and writes their exports.
//
//   tolvane-exportgen make-sms DB HANDLES MESSAGES
//   tolvane-exportgen make-contacts DB CONTACTS
//   tolvane-exportgen sms DB OUT.csv
//   tolvane-exportgen contacts DB OUT.csv
#include <cstdio>
#include <cstdlib>
#include <string>

#include "tests/tools/ExportWriter.h"
#include "tests/tools/RealSchemaDb.h"

namespace {

int Usage() {
    std::fprintf(stderr,
                 "usage: tolvane-exportgen make-sms DB HANDLES MESSAGES\n"
                 "       tolvane-exportgen make-contacts DB CONTACTS\n"
                 "       tolvane-exportgen sms|contacts DB OUT.csv\n");
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 4) {
        return Usage();
    }
    const std::string command = argv[1];
    const std::string db = argv[2];
    bool ok = false;
    if (command == "make-sms" && argc == 5) {
        ok = testkit::CreateSmsDb(db);
        if (ok) {
            testkit::Database open(db);
            ok = testkit::FillSms(open, std::atoi(argv[3]), std::atoi(argv[4]));
        }
    } else if (command == "make-contacts" && argc == 4) {
        ok = testkit::CreateAddressBookDb(db);
        if (ok) {
            testkit::Database open(db);
            ok = testkit::FillContacts(open, std::atoi(argv[3]));
        }
    } else if (command == "sms" && argc == 4) {
        ok = testkit::WriteSmsExport(db, argv[3]);
    } else if (command == "contacts" && argc == 4) {
        ok = testkit::WriteContactsExport(db, argv[3]);
    } else {
        return Usage();
    }
    return ok ? 0 : 1;
}
