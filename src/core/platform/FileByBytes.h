#pragma once

#include <QFile>

#include <string>

// Opens a local file for reading by the bytes of its path, exactly as the
// disk names it: a name that is not valid UTF-8 is opened all the same
// (a path turned into text and back would lose such bytes). Only regular
// files are opened: a FIFO or a device would block the reader or mean
// nothing, and opening one never waits. False when the file cannot be
// opened or is not a regular file; the QFile is then left closed.
bool OpenForReadingByBytes(QFile& io_file, const std::string& i_path);
