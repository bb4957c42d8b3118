// The databases of a phone of iOS 10 to 18, made from those of the iOS 7 generation the way the
// phone's own migrations change them: the newer columns appended to `message`, `chat`, `handle`,
// `attachment` and `chat_message_join` (74 `message` columns on iOS 14), the newer tables, dates
// in nanoseconds since 2001 from iOS 11, every message's words also in `attributedBody` (a
// "streamtyped" NSAttributedString) and, from iOS 16, many messages with a NULL `text`. Both
// files are left in WAL journal mode, as a phone keeps them.
#pragma once

#include <string>

#include "devsim/Random.h"

namespace devsim {

bool ModerniseMessageDatabase(const std::string& path, const std::string& productVersion,
                              Random& random, std::string& error);
bool ModerniseContactsDatabase(const std::string& path, const std::string& productVersion,
                               std::string& error);

// The attributedBody of a message with `text`: an NSAttributedString in the "streamtyped"
// serialisation of NSArchiver, one attribute run over the whole text.
std::string StreamTypedBody(const std::string& text);

// Seconds between the iOS 7 generation's conversations and a modern phone's (ten years).
inline constexpr int64_t kModernDateShift = 3653LL * 86400;

}  // namespace devsim
