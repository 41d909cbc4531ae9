// The Connect dialog's rules that do not need the dialog: the check of the link settings
// before connecting, shared with the headless runner. Portable.
#pragma once
#include "link/link.h"

// What is missing from rec's link settings for its interface: "Please select a COM Port" or
// "Please choose a baudrate" for USB and Serial, "Please enter an IP address" for LAN;
// null when nothing is missing, and for any other interface kind (nothing to check).
const char *ConnectSettingsProblem(const ConnectionRecord *rec);
