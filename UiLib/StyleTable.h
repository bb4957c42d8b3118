// Named attribute sets of a layout file (Style elements) and class defaults (Default elements).
#pragma once

#include <map>
#include <string>
#include <utility>
#include <vector>

namespace UiLib {

using AttributeList = std::vector<std::pair<std::string, std::string>>;
using StyleTable = std::map<std::string, AttributeList>;

// Parses `a="1" b="x"` (the value form of Default elements). Stops at the first malformed item and
// says so through `fault`.
AttributeList ParseAttributeList(const std::string& text, std::string* fault = nullptr);

}  // namespace UiLib
