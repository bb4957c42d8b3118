// Opening the pages of the link table (app/LinkTable.h) with the desktop's default handler,
// through the window host (GTK: gtk_show_uri_on_window; offscreen: recorded for tests).
#pragma once

#include <string>

namespace tolvane {

// A page of the assist menu by its number (UM_OPEN_LINK's wParam: 1, 2, 5, 6). False when the
// number names no page, the table leaves it empty, or the desktop could not open it.
bool OpenLinkPage(int pageNumber);
// A page by its key in the table ("usbmuxd").
bool OpenLinkPage(const std::string& page);

}  // namespace tolvane
