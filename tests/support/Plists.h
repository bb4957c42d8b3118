// Reading plists in tests.
#pragma once

#include <plist/plist.h>

#include <string>
#include <vector>

namespace testenv {

// The keys of a dictionary, in the order it holds them.
std::vector<std::string> DictKeys(plist_t dict);

}  // namespace testenv
