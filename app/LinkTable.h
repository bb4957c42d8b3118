// The link table: the pages the program opens (the assist menu's Help, FAQ, About and Support,
// the notice window's link), kept in the [Links] section of config.ini.
//
//   [Links]
//   1=Help/index.html                 (a path relative to the program folder)
//   5=https://example.org/tolvane     (or any address the desktop can open)
//   usbmuxd=Help/index.html#usbmuxd
//
// Keys are the page numbers of the menu's messages ("1", "2", "5", "6") and "usbmuxd" for the
// notice shown when the usbmuxd service is missing. A page without a key opens the shipped user
// guide at its section; a key with an empty value opens nothing.
#pragma once

#include <string>

namespace tolvane {

class AppSettings;
class ConfigStore;

// The address of a page as the desktop's default handler takes it ("file:///.../index.html#faq",
// "https://..."), empty for a page that opens nothing. `programFolder` ends in "/".
std::wstring LinkAddress(const ConfigStore& config, const std::string& programFolder,
                         const std::string& page);
// Of the settings' config.ini and program folder; page numbers as the menu posts them (any
// other number opens nothing).
std::wstring LinkAddress(const AppSettings& settings, const std::string& page);
std::wstring LinkAddress(const AppSettings& settings, int pageNumber);

// What a [Links] value stands for: an address with a scheme stays as it is; an absolute path or
// a path relative to `programFolder` becomes a file address (its "#fragment" kept).
std::wstring ResolveLink(const std::string& value, const std::string& programFolder);

}  // namespace tolvane
