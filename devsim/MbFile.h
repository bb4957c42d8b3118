// The `file` column of Manifest.db: one MBFile object in a binary property list written the way
// NSKeyedArchiver writes it:
//
//   { "$archiver": "NSKeyedArchiver", "$version": 100000, "$top": { "root": UID 1 },
//     "$objects": [ "$null",
//                   { "$class": UID, "Birth", "LastModified", "LastStatusChange", "Mode",
//                     "UserID", "GroupID", "InodeNumber", "Size", "Flags", "ProtectionClass",
//                     "RelativePath": UID, ["Target": UID], ["EncryptionKey": UID],
//                     ["Digest": UID] },
//                   "<relative path>", ...,
//                   { "NS.data": <4-byte class + 40-byte wrapped key>, "$class": UID },
//                   { "$classname": "NSMutableData", "$classes": [...] },
//                   { "$classname": "MBFile", "$classes": ["MBFile", "NSObject"] } ] }
//
// The record fields are those of Manifest.mbdb, so both generations share MbdbRecord.
#pragma once

#include <string>

#include "devsim/Mbdb.h"

namespace devsim {

std::string WriteMbFile(const MbdbRecord& record);

// Reads an archived MBFile into `record` (its domain is left as it was). False, with `error`
// set, for bytes that are not such an archive.
bool ReadMbFile(const std::string& bytes, MbdbRecord& record, std::string& error);

}  // namespace devsim
