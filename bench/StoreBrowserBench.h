#pragma once

// The "browser" phase of the shares benchmark: sharing a new folder of
// 5,000 small files with the item-store browser open on the type of file
// names, against the same with no browser. Needs a QApplication.

#include <QString>

namespace SharesBench {

// Prints store_browser_share_5k_ratio, with details; i_scratch is a folder
// to make the new folder in.
void RunStoreBrowser(const QString& i_logFolder, const QString& i_scratch);

}  // namespace SharesBench
