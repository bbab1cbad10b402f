#pragma once

#include "core/store/Item.h"
#include "transfers/DownloadLayout.h"

#include <QString>

// Which partial file a download writes. A partial file is continued only by
// the download that wrote it: each download records the path of its partial
// file ("partial_path", saved with it), and never opens a path that another
// download recorded, nor a file already there that it did not write; it
// then writes a partial of its own beside it, under a numbered name. The
// complete path stays as the layout gives it: the finished file moves there
// whatever its partial was called.
//
// Downloads from a data file written before partial files were recorded
// carry the flag "partial_unrecorded" for the run: such a download may take
// the file at its own partial path when no other download of the list has
// that path, so that its resume survives the upgrade.
namespace DownloadPartials
{
// The partial file the download is to write now, recorded on it: its own
// when that lies in the target's folder, else one it may take there. "" when
// the target is not valid or no free name is left.
QString Claim(ItemPtr i_download, const DownloadLayout::Target& i_target);
// True when the download wrote bytes of its own that it would continue: its
// recorded partial file is there and not empty, or, for a download from an
// older data file, the file at its own partial path that Claim would take.
bool HasOwnBytes(ItemPtr i_download);
// The partial file moved away: its path is free for others.
void Forget(ItemPtr i_download);
// Flags the loaded downloads that have no partial file recorded.
void MarkUnrecorded(const ItemSet& i_loaded);
}  // namespace DownloadPartials
