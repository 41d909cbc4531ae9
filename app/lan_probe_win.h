// The LAN search behind the Connect dialog's find button. UI thread only.
#pragma once
#include <windows.h>

#include <cstddef>

// Searches the local subnet, lets the user choose one instrument and copies its address
// into address (capacity cap). False when nothing was found or the user cancelled.
bool FindAndChooseInstrument(HWND owner, char *address, size_t cap);
