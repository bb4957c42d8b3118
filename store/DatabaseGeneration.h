// Which phone generation a message or contacts database belongs to, told from its schema, so that
// a database of a newer phone is not put onto an older phone that cannot read it.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "store/DataCategory.h"

namespace tolvane {

// The oldest iOS major version whose phones can read the database at `path`, from the marks
// later generations leave: tables and columns a phone of the iOS 7 generation does not have
// (8), message effects and tapbacks (10), dates counted in nanoseconds and the phone's own
// address (11), replies and spam marks (13), inline replies (14), quiet delivery (15), edited
// and unsent messages and recoverable deletions (16), emergency messages (17), emoji tapbacks
// and scheduled messages (18); in a contacts database Memoji (13) and contact posters (17); for
// a phone older than iOS 6, the handle and full-text search tables (6). 0 when the database cannot
// be opened or read, or shows no such mark.
int RequiredIosMajor(const std::string& path, DataCategory category);

// The columns of `table` (message, handle, chat, the two joins, ABPerson, ABMultiValue) as a
// phone of the iOS 7 generation has them, in its order: the columns of an export's rows. Null
// for any other table.
const std::vector<std::string_view>* Ios7ColumnsOf(std::string_view table);

// The major version of a ProductVersion ("7.1.2" gives 7); 0 when it does not begin with one.
int IosMajorOf(const std::string& productVersion);

// The refusal text for a database of category `category` that needs iOS `needed` on a phone of
// `productVersion`, for an import or (`restore`) a restore.
std::string NewerGenerationText(DataCategory category, int needed,
                                const std::string& productVersion, bool restore = false);

}  // namespace tolvane
