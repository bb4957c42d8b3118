// Preparing the work backup for a restore of only the messages and/or contacts.
#pragma once

#include <cstdint>
#include <string>

namespace tolvane {

// Puts the chosen databases into the work backup workFolder/udid and brings its Manifest.mbdb into
// line: the manifest is renamed to "Manifest.mbdb_bak", copied back without the records of
// applications' data, and for each category in `categories` (Sms, Contacts) the database is taken
// from `sourceFolder` (its "sms"/"content" copy when there is one, else the hashed name) and its
// record's digest is set to the new content's SHA-1. Without a source folder the databases already
// in the work backup are hashed and patched in.
//
// A work backup of the newer layout (Manifest.db) is brought into line the same way: the manifest
// is copied to "Manifest.db_bak", the applications' rows are deleted, the databases go to their
// prefixed places and their MBFile records get the new size and SHA-1 digest. A manifest without
// the row of a chosen database, or a damaged one, gives platform::kResultBadManifest; `problem`
// (when given) then says what was wrong.
//
// Returns 0 or the code of the first step that failed: the rename's or a copy's system error code,
// a failed digest, or a failed patch (a later category is then not touched). A failed strip does
// not stop it (the following patch then finds no manifest). When neither category is set, the
// strip's result is returned.
int32_t PrepareCategoryRestore(uint32_t categories, const std::string& udid,
                               const std::string* sourceFolder, const std::string& workFolder,
                               std::string* problem = nullptr);

}  // namespace tolvane
