// Small text helpers shared by every subsystem. Portable: no Win32.
#pragma once
#include <cstddef>
#include <string>
#include <vector>

// Copies src into dst (capacity cap, > 0), always NUL-terminated. Returns strlen(src), so a
// result >= cap means the text was cut.
size_t TextCopy(char *dst, size_t cap, const char *src);

// Copies at most n characters of src into dst (capacity cap), NUL-terminated.
// Returns the number of characters copied.
size_t TextCopyN(char *dst, size_t cap, const char *src, size_t n);

// Appends src to the NUL-terminated text in dst (capacity cap), cutting it to fit.
// Returns the length the whole text wanted.
size_t TextAppend(char *dst, size_t cap, const char *src);

// The standard text-to-integer reading used throughout: leading white space, optional sign,
// decimal digits up to the first other character; 0 when no digit follows. Saturates
// instead of overflowing.
long TextToInt(const char *text);

// Comparisons that ignore the letter case (tolower, byte by byte): true when text begins with
// the whole of prefix; true when a and b are the same text.
bool TextStartsWithNoCase(const char *text, const char *prefix);
bool TextEqualNoCase(const char *a, const char *b);

// Splits text at sep. Empty pieces between separators and before a leading separator are
// kept; a separator at the very end adds no empty piece; an empty text has no pieces.
std::vector<std::string> TextSplit(const char *text, char sep);

// Length of the folder part of a path: up to and including its last separator, '\\' or '/'
// (Windows takes both); 0 when the path has none. The name starts right after it.
size_t TextFolderLength(const char *path);
