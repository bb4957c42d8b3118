// Small helpers around libplist for the simulator: parsing and writing, typed look-ups in
// dictionaries, and the 4-byte big-endian framing that lockdown and its services use.
#pragma once

#include <plist/plist.h>

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "platform/Handles.h"

namespace devsim {

class Connection;
using platform::PlistPtr;

// XML or binary, detected by the content; null when it is neither.
PlistPtr ParsePlist(std::string_view bytes);
std::string ToXml(plist_t node);
std::string ToBinary(plist_t node);

// Reads a plist file (XML or binary); null when it cannot be read or parsed.
PlistPtr LoadPlistFile(const std::string& path);
// Writes `node` as XML through a temporary file; 0 or a system error code.
int32_t SavePlistFileXml(const std::string& path, plist_t node);

// Typed values of a dictionary item; nullopt when the key is missing or of another type.
std::optional<std::string> DictString(plist_t dict, const char* key);
std::optional<uint64_t> DictUint(plist_t dict, const char* key);
std::optional<bool> DictBool(plist_t dict, const char* key);
std::optional<std::string> DictData(plist_t dict, const char* key);
std::optional<double> DictReal(plist_t dict, const char* key);

// The string of an array item, or nullopt.
std::optional<std::string> ArrayString(plist_t array, uint32_t index);

plist_t NewData(std::string_view bytes);
// A date node for a moment given in seconds since 1970-01-01 UTC.
plist_t NewDateUnix(int64_t unixSeconds);

// A framed plist on a lockdown-style connection: 4-byte big-endian length, then the plist.
bool SendFramedPlist(Connection& connection, plist_t node, bool binary);
// Receives one framed plist; null when the connection ended or the frame is not a plist.
// Frames above `maxBytes` are refused (the connection is then unusable).
PlistPtr ReceiveFramedPlist(Connection& connection, uint32_t maxBytes = 64u << 20);

}  // namespace devsim
