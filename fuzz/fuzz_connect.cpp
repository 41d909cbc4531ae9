// The connect sequence against an instrument that answers anything: every query gets a reply
// taken from the input (or none). The record's texts must stay within their arrays and cut
// where they are documented to be cut, the model code must be the table's verdict on the
// identification, and every comms-log marker must fit its entry.
#include <cstring>
#include <string>
#include <vector>

#include "fakecommslog.h"
#include "fakelink.h"
#include "fakeui.h"
#include "fuzz_common.h"
#include "link/commslog.h"
#include "link/connect.h"
#include "link/ident.h"

static bool Terminated(const char *field, size_t size, size_t maxLen)
{
    size_t n = strnlen(field, size);
    return n < size && n <= maxLen;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    FuzzedDataProvider in(data, size);
    FakeLinkReset();
    FakeUiReset();
    FakeCommsLogReset();
    ConnectionRecord *rec = &g_connection;
    rec->interfaceKind = in.ConsumeIntegralInRange<int32_t>(0, 3);
    g_fake.openResult = in.ConsumeIntegralInRange<int>(0, 7) == 0 ? -1 : 0;
    bool showResult = in.ConsumeBool();
    FuzzFillText(in, rec->portName);
    FuzzFillText(in, rec->ipAddress);
    int32_t earlierCode = in.ConsumeIntegralInRange<int32_t>(0, 16);
    rec->modelCode = earlierCode;

    // One reply per query, in the order asked; a reply is any bytes (line ends included).
    std::vector<std::string> replies(in.ConsumeIntegralInRange<size_t>(0, 12));
    for (std::string &r : replies) r = in.ConsumeRandomLengthString(600);
    size_t next = 0;
    std::vector<std::string> asked;
    g_fake.onSend = [&](const std::string &text) {
        asked.push_back(text);
        if (text.empty() || text.back() != '\n') return;  // the wake-ups get no answer
        if (next < replies.size()) g_fake.input = replies[next++];
    };

    bool result = ConnectAndIdentify(nullptr, rec, showResult);

    if (rec->interfaceKind == IFACE_NONE) {
        FUZZ_CHECK(!result && g_fake.sent.empty() && g_ui.messages.empty());
        return 0;
    }
    if (g_fake.openResult < 0) {
        FUZZ_CHECK(!result && g_ui.messages.size() == 1 && asked.empty());
        return 0;
    }
    FUZZ_CHECK(Terminated(rec->idnText, sizeof rec->idnText, 127));
    FUZZ_CHECK(Terminated(rec->calibrationText, sizeof rec->calibrationText, 255));
    FUZZ_CHECK(Terminated(rec->calVersionText, sizeof rec->calVersionText, 255));
    FUZZ_CHECK(Terminated(rec->versionText, sizeof rec->versionText, 127));
    FUZZ_CHECK(g_ui.messages.size() == (showResult ? 1u : 0u));
    FUZZ_CHECK(g_ui.waits == 0);
    FUZZ_CHECK(g_fake.replyTimeoutMs == CONNECT_QUERY_TIMEOUT_MS);

    // At most five identification requests, then the three text queries for a known model.
    size_t idnAsked = 0;
    for (const std::string &a : asked) idnAsked += a == "*IDN?\n";
    FUZZ_CHECK(idnAsked >= 1 && idnAsked <= CONNECT_IDN_ATTEMPTS);
    if (!result) {
        FUZZ_CHECK(idnAsked == CONNECT_IDN_ATTEMPTS);
        FUZZ_CHECK(rec->modelCode == earlierCode);  // a failed attempt keeps the earlier code
    } else if (rec->modelCode != MODEL_UNKNOWN) {
        // Unless the reply was cut to the array, its model field is still there to be read.
        const char *comma = strchr(rec->idnText, ',');
        if (strlen(rec->idnText) < 127) {
            FUZZ_CHECK(comma != nullptr);
            FUZZ_CHECK(ClassifyModel(comma + 1) == rec->modelCode);
        }
        FUZZ_CHECK(asked.size() >= 3 && asked[asked.size() - 3] == "calstr?\n" &&
                   asked[asked.size() - 2] == "calver?\n" && asked.back() == "version?\n");
    } else {
        FUZZ_CHECK(asked.back() == "*IDN?\n");
    }
    for (const std::string &entry : g_commsLog.entries) FUZZ_CHECK(entry.size() < COMMS_LOG_ENTRY_SIZE);
    for (const std::string &text : g_commsLog.texts) {
        FUZZ_CHECK(text.size() < CONNECT_REPLY_SIZE);
        FUZZ_CHECK(!text.empty() && text.back() == '\n');
    }
    for (const FakeUiMessage &m : g_ui.messages) FUZZ_CHECK(m.text.size() < 256);

    // The marker on its own, at every capacity: it is cut, never overrun, and keeps its end.
    std::string reply = in.ConsumeRandomLengthString(400);
    int code = in.ConsumeIntegral<int>();
    size_t cap = in.ConsumeIntegralInRange<size_t>(0, 300);
    std::vector<char> out(cap + 8, '#');
    size_t n = ConnectIdentifiedMarker(out.data(), cap, reply.c_str(), code);
    if (cap == 0) {
        FUZZ_CHECK(n == 0 && out[0] == '#');
    } else {
        FUZZ_CHECK(n < cap && out[n] == '\0' && out[cap] == '#');
        std::string suffix = " (" + std::to_string(code) + ")\t***\n";
        std::string marker(out.data(), n);
        if (cap > 16 + suffix.size()) FUZZ_CHECK(marker.size() >= suffix.size() &&
                                                 marker.compare(marker.size() - suffix.size(), suffix.size(), suffix) == 0);
    }
    return 0;
}
