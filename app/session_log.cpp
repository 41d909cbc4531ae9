// Stamps and log lines of the session.
#include "app/session_log.h"

#include <cstdio>

std::string ClockText(const ClockStamp &t)
{
    char text[32];
    snprintf(text, sizeof text, "%02d:%02d:%02d.%03d", t.hour, t.minute, t.second, t.ms);
    return text;
}

std::string DateClockText(const ClockStamp &t)
{
    char text[48];
    snprintf(text, sizeof text, "%04d-%02d-%02d ", t.year, t.month, t.day);
    return text + ClockText(t);
}

std::string LineStamper::Stamp(const char *text, const std::string &stamp)
{
    std::string out;
    for (const char *p = text; *p; p++) {
        if (atLineStart) {
            out += stamp;
            out += ' ';
        }
        out += *p;
        atLineStart = *p == '\n';
    }
    return out;
}

void SessionLogLines::Feed(const char *text, const std::string &stamp, std::vector<std::string> *done)
{
    for (const char *p = text; *p; p++) {
        if (!pendingOpen) {
            pendingOpen = true;
            pendingStamp = stamp;
            pending.clear();
        }
        if (*p == '\r') continue;
        if (*p != '\n') {
            pending += *p;
            continue;
        }
        done->push_back(pendingStamp + " " + pending + "\r\n");
        pendingOpen = false;
    }
}

bool SessionLogLines::TakePartial(std::string *line)
{
    if (!pendingOpen) return false;
    pendingOpen = false;
    if (pending.empty()) return false;  // only CRs came
    *line = pendingStamp + " " + pending + "\r\n";
    return true;
}
