// The platform's floor for a LAN instrument exchange: the least a Win32 program can do to send
// a line and wait for its reply over TCP. Plain Windows Sockets and nothing of the product:
// one blocking socket, one send per line (with the NUL a LAN instrument gets after every line)
// and blocking recv until the reply's LF. The benchmarks hold the product against it.
#pragma once
#include <winsock2.h>
#include <windows.h>

#include <cstring>
#include <string>

struct FloorClient {
    SOCKET s = INVALID_SOCKET;
    char pending[256];  // bytes received after a reply's LF (none in a stop-and-wait exchange)
    int pendingCount = 0;
};

// Connects to port 10001 of address; false when the connection cannot be made.
inline bool FloorConnect(FloorClient *c, const char *address)
{
    WSADATA data;
    if (WSAStartup(MAKEWORD(2, 2), &data) != 0) return false;
    c->s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    sockaddr_in peer;
    memset(&peer, 0, sizeof peer);
    peer.sin_family = AF_INET;
    peer.sin_port = htons(10001);
    peer.sin_addr.s_addr = inet_addr(address);
    if (c->s == INVALID_SOCKET || connect(c->s, (sockaddr *)&peer, sizeof peer) != 0) {
        if (c->s != INVALID_SOCKET) closesocket(c->s);
        c->s = INVALID_SOCKET;
        WSACleanup();
        return false;
    }
    c->pendingCount = 0;
    return true;
}

inline void FloorClose(FloorClient *c)
{
    if (c->s == INVALID_SOCKET) return;
    shutdown(c->s, SD_SEND);
    closesocket(c->s);
    c->s = INVALID_SOCKET;
    WSACleanup();
}

// Sends text and its NUL, then receives up to the reply's LF. The reply without CR and LF, or
// false when the connection failed.
inline bool FloorExchange(FloorClient *c, const char *text, std::string *reply)
{
    reply->clear();
    if (send(c->s, text, (int)strlen(text) + 1, 0) == SOCKET_ERROR) return false;
    for (;;) {
        for (int i = 0; i < c->pendingCount; i++) {
            char ch = c->pending[i];
            if (ch != '\n') {
                if (ch != '\r') *reply += ch;
                continue;
            }
            c->pendingCount -= i + 1;
            memmove(c->pending, c->pending + i + 1, c->pendingCount);
            return true;
        }
        c->pendingCount = recv(c->s, c->pending, 255, 0);
        if (c->pendingCount <= 0) {
            c->pendingCount = 0;
            return false;
        }
    }
}
