#pragma once

#include "core/store/Item.h"

#include <QString>

// The one logging function of the program. Writes one line (see
// FormatLogLine) to the end of the area's log file and to the area's tab on
// the Diagnostics page. The item, when not null, files the line in that
// item's history too (the item log); it plays no part in the line.
//
// Callable from any thread and before any window exists; it never fails
// towards the caller and never waits for the GUI thread: lines logged on
// other threads reach the views through the event loop.
void Log(QString i_area, int i_level, QString i_text, ItemPtr i_item = ItemPtr());
