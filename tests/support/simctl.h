// Test-side client of the simulated instrument's control channel (a TCP text protocol on
// 127.0.0.1; see sim/README.md). Used by the Win32 tests that run under Wine.
#pragma once
#include <string>

// Sends one control command and returns the reply line ("ok ..." or "err ...").
std::string Sim(const std::string &command);
// Sends a command and fails the current test unless the reply starts with "ok".
std::string SimOk(const std::string &command);
// Bytes received on "serial" or "lan" since the last reset or "transcript clear".
std::string SimTranscript(const char *transport);
// Waits until the transport has received at least n bytes (or timeoutMs passed); returns the transcript.
std::string SimWaitRx(const char *transport, size_t n, int timeoutMs = 3000);
// Hex text of bytes, and back.
std::string Hex(const std::string &bytes);
std::string Unhex(const std::string &hex);
// The environment's COM port name (QSIM_COM, default COM5) and LAN address (QSIM_LAN).
const char *SimComPort();
const char *SimLanAddress();
// Printable form of bytes for failure messages: \r, \n, \xNN.
std::string Visible(const std::string &bytes);
