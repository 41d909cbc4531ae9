// Host stand-in for common/fileio.h: the host's own fopen, whose names are UTF-8 already.
#include "common/fileio.h"

FILE *FileOpen(const char *path, const char *mode) { return fopen(path, mode); }
