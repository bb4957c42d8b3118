// The words a generated phone is made of: names from many languages (with non-ASCII letters,
// apostrophes and other scripts), message texts (with emoji, quotes, commas and line breaks),
// notes, companies and places. They exercise what a reader of the phone's databases must cope
// with; none of them names a real person or product.
#pragma once

#include <string>
#include <vector>

namespace devsim::sample {

const std::vector<std::string>& FirstNames();
const std::vector<std::string>& LastNames();
const std::vector<std::string>& Companies();
const std::vector<std::string>& JobTitles();
const std::vector<std::string>& Notes();
const std::vector<std::string>& MessageTexts();
const std::vector<std::string>& EmailDomains();
struct Place {
    std::string street, city, state, zip, country, countryCode;
};
const std::vector<Place>& Places();
const std::vector<std::string>& GroupChatNames();
// Application identifiers for generated applications (made-up reverse-DNS names).
const std::vector<std::string>& AppIdentifiers();

}  // namespace devsim::sample
