// Checks that what code asks of the skin exists: control names in a layout (with its includes)
// and named styles. Window code lists the names it looks up, and a test runs the check, so a
// renamed control fails a test instead of silently doing nothing.
#pragma once

#include <set>
#include <string>
#include <vector>

namespace UiLib {

// Every control name in a layout file of the current archive, includes and menu sub-items too.
std::set<std::string> CollectControlNames(const std::string& layoutFile);
// The names of `wanted` that the layout does not define, in the order given.
std::vector<std::string> MissingControlNames(const std::string& layoutFile,
                                             const std::vector<std::string>& wanted);
// The styles of `wanted` that the layout does not define.
std::vector<std::string> MissingStyles(const std::string& layoutFile,
                                       const std::vector<std::string>& wanted);

}  // namespace UiLib
