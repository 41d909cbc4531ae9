// Seam to the file system for the upgrade readers: one find-first style directory lookup.
// Implemented with FindFirstFileW in filefacts_win.cpp (names in UTF-8); host tests supply a stand-in.
#pragma once
#include "upgrade/upgrade.h"

// Looks path up (no wildcards are expected). True and *out filled when found; false, with
// *out zeroed, when there is no such file (directories and wildcard patterns count as none).
bool LookupFileFacts(const char *path, FileFacts *out);
