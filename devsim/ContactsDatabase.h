// The phone's contacts database (AddressBook.sqlitedb) filled with generated people: the store,
// labels, people with their phone numbers, e-mail addresses and postal addresses, the last-four
// index, the full-text search content and a group.
#pragma once

#include <string>
#include <vector>

#include "devsim/Generated.h"
#include "devsim/Random.h"

namespace devsim {

bool WriteContactsDatabase(const std::string& path, const std::vector<GeneratedPerson>& people,
                           Random& random, std::string& error);

}  // namespace devsim
