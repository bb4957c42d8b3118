// Faults of the skin (unknown elements, bad values, missing files) are reported on standard output,
// each distinct fault once, and never stop a window from coming up with what could be read.
#pragma once

#include <string>
#include <vector>

namespace UiLib {

// Prints "uilib: <text>\n" unless the same text was reported before.
void ReportFault(const std::string& text);

// Every distinct fault reported so far, in order (for checks of a skin and for tests).
std::vector<std::string> ReportedFaults();
void ClearReportedFaults();

}  // namespace UiLib
