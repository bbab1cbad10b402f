#pragma once

#include <string>
#include <vector>

// Writes bytes to a temporary file next to the target, flushes them to disk
// and only then renames the file over the target, so the target is always
// either the old file or the whole new one. Returns false with a reason and
// removes the temporary file when any step fails.
bool CommitFile(const std::string& i_path, const std::vector<char>& i_bytes, std::string& o_reason);
