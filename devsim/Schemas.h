// The phone's database schemas as `sqlite3 FILE .schema` prints them (devsim/schemas/), compiled
// into the program.
#pragma once

namespace devsim {

extern const char* const kSmsSchema;
extern const char* const kContactsSchema;

}  // namespace devsim
