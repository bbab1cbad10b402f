#pragma once

// Under a file-size limit (RLIMIT_FSIZE) a write past it raises SIGXFSZ,
// whose default action ends the process. Ignoring it turns such a write into
// an ordinary failure (EFBIG) that the writer reports and survives. Set once
// for the whole process, early; it holds in forked children too.
void IgnoreFileSizeLimitSignal();
