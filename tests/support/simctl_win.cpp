// Control-channel client for the simulated instrument (Winsock, blocking, one short
// connection per command so a test never inherits a half-read reply).
#include <winsock2.h>
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "simctl.h"

static std::string EnvOr(const char *name, const char *fallback)
{
    const char *v = getenv(name);
    return v && *v ? v : fallback;
}

std::string Sim(const std::string &command)
{
    static bool started = false;
    if (!started) {
        WSADATA data;
        WSAStartup(MAKEWORD(2, 2), &data);
        started = true;
    }
    std::string control = EnvOr("QSIM_CONTROL", "127.0.0.1:10100");
    size_t colon = control.find(':');
    sockaddr_in addr = {};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = inet_addr(control.substr(0, colon).c_str());
    addr.sin_port = htons((u_short)atoi(control.c_str() + colon + 1));
    SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    if (connect(s, (sockaddr *)&addr, sizeof addr) != 0) {
        closesocket(s);
        return "err cannot reach the simulator control channel";
    }
    DWORD timeout = 20000;
    setsockopt(s, SOL_SOCKET, SO_RCVTIMEO, (const char *)&timeout, sizeof timeout);
    std::string line = command + "\n";
    send(s, line.data(), (int)line.size(), 0);
    std::string reply;
    char c;
    while (recv(s, &c, 1, 0) == 1 && c != '\n') {
        if (c != '\r') reply += c;
    }
    closesocket(s);
    return reply;
}

std::string SimOk(const std::string &command)
{
    std::string reply = Sim(command);
    EXPECT_EQ(0u, reply.rfind("ok", 0)) << command << " -> " << reply;
    return reply;
}

std::string Hex(const std::string &bytes)
{
    std::string out;
    char two[3];
    for (unsigned char b : bytes) {
        snprintf(two, sizeof two, "%02x", b);
        out += two;
    }
    return out;
}

std::string Unhex(const std::string &hex)
{
    std::string out;
    for (size_t i = 0; i + 1 < hex.size(); i += 2) out += (char)strtol(hex.substr(i, 2).c_str(), nullptr, 16);
    return out;
}

std::string SimTranscript(const char *transport)
{
    std::string reply = SimOk(std::string("transcript ") + transport);
    return reply.size() > 3 ? Unhex(reply.substr(3)) : std::string();
}

std::string SimWaitRx(const char *transport, size_t n, int timeoutMs)
{
    char cmd[80];
    snprintf(cmd, sizeof cmd, "wait-rx %s %u %d", transport, (unsigned)n, timeoutMs);
    Sim(cmd);
    return SimTranscript(transport);
}

const char *SimComPort()
{
    static std::string port = EnvOr("QSIM_COM", "COM5");
    return port.c_str();
}

const char *SimLanAddress()
{
    static std::string address = EnvOr("QSIM_LAN", "127.0.0.1");
    return address.c_str();
}

std::string Visible(const std::string &bytes)
{
    std::string out;
    char esc[8];
    for (unsigned char b : bytes) {
        if (b == '\r') out += "\\r";
        else if (b == '\n') out += "\\n";
        else if (b < 32 || b >= 127) {
            snprintf(esc, sizeof esc, "\\x%02x", b);
            out += esc;
        } else out += (char)b;
    }
    return out;
}
