// The phone's message database (sms.db) filled with generated conversations: handles (phone
// numbers and e-mail addresses, many of them people of the address book), one chat per handle and
// a group chat, their joins, messages in both directions over SMS and iMessage, and a few picture
// attachments whose files the caller stores in MediaDomain.
#pragma once

#include <string>
#include <vector>

#include "devsim/Generated.h"
#include "devsim/Random.h"

namespace devsim {

bool WriteMessageDatabase(const std::string& path, int messages,
                          const std::vector<GeneratedPerson>& people, Random& random,
                          std::vector<GeneratedAttachment>& attachments, std::string& error);

// A small JPEG-shaped file (start and end markers around random bytes).
std::string FakeJpeg(Random& random, size_t size);

}  // namespace devsim
