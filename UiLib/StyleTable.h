// Named attribute sets of a layout file (Style elements) and class defaults (Default elements).
#pragma once

#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace UiLib {

using AttributeList = std::vector<std::pair<std::string, std::string>>;
// A list is built once from its element and shared, never changed, by the file's table and the
// window's.
using StyleTable = std::map<std::string, std::shared_ptr<const AttributeList>>;

// Parses `a="1" b="x"` (the value form of Default elements). Stops at the first malformed item and
// says so through `fault`.
AttributeList ParseAttributeList(const std::string& text, std::string* fault = nullptr);

}  // namespace UiLib
