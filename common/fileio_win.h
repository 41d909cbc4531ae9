// The program's texts (UTF-8) at the system's wide calls: conversions, and the file calls
// both programs make with a name. Any thread.
#pragma once
#include <windows.h>

#include <string>

// The system's own ANSI code page, which GetACP no longer gives where the manifest's UTF-8 is
// in force (Windows 10 1903 and later); GetACP's where the system's language has none.
UINT SystemAnsiCodePage();

// UTF-8 to UTF-16 and back. A text that is no UTF-8 is read in the system's own ANSI code page:
// a name in a script or descriptor saved that way by an older editor; a path whose folders are
// UTF-8 and whose name is not, a folder at a time. An empty text stays empty.
std::wstring WideFromUtf8(const char *text);
std::string Utf8FromWide(const wchar_t *text);

// Text from one code page into another, through UTF-16, as MultiByteToWideChar and
// WideCharToMultiByte read and write it (a character the target lacks becomes its default,
// '?'). Empty when text is empty or cannot be read in from.
std::string TextRecode(const std::string &text, UINT from, UINT to);

// GetFileAttributes of a UTF-8 name: INVALID_FILE_ATTRIBUTES when there is no such file.
DWORD FileAttributes(const char *path);
// CreateDirectory of a UTF-8 name; false when it failed (it may exist already).
bool FolderCreate(const char *path);

// The private-profile functions with a UTF-8 file name and UTF-8 values (on Windows 10
// 1903 and later the file itself is in the UTF-8 code page; before, in the system's).
void ProfileGetString(const char *file, const char *section, const char *key, const char *fallback, char *out,
                      size_t cap);
int ProfileGetInt(const char *file, const char *section, const char *key, int fallback);
// Writes key = value in section; a null key removes the whole section. False on failure.
bool ProfileWriteString(const char *file, const char *section, const char *key, const char *value);
