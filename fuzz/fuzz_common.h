// Helpers shared by the fuzz targets: a check that stops the run whatever the build type,
// a private scratch folder for targets that need real files, and filling the record's fixed
// text arrays from fuzz input.
#pragma once
#include <fuzzer/FuzzedDataProvider.h>

#include <cstddef>
#include <string>

// A broken property is a finding: report where and abort, so libFuzzer keeps the input.
#define FUZZ_CHECK(cond)                                                        \
    do {                                                                        \
        if (!(cond)) FuzzCheckFailed(#cond, __FILE__, __LINE__);                \
    } while (0)

[[noreturn]] void FuzzCheckFailed(const char *what, const char *file, int line);

// A folder of its own under the system temp folder, made on first use and kept for the
// process; the working directory is moved there too, so that any file a script names by a
// relative path lands inside it.
const std::string &FuzzScratchDir();

// Writes data to path (created or truncated); false when it cannot.
bool FuzzWriteFile(const std::string &path, const void *data, size_t size);

// Fills a fixed text array with up to N - 1 bytes of input, always terminated.
void FuzzFillText(FuzzedDataProvider &in, char *field, size_t size);
template <size_t N>
void FuzzFillText(FuzzedDataProvider &in, char (&field)[N])
{
    FuzzFillText(in, field, N);
}
