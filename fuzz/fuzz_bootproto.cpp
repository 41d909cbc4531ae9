// The programming pass: any HEX file, any plan of entries and a boot loader that answers from
// the input. Whatever happens, no record goes out cut or merged (each one sent is a whole line
// of the file, CR LF added), after a refused command only its permitted retries follow, a
// plan with a sector that cannot be selected erases nothing, and the restart is sent exactly
// when the run succeeded.
#include <cstring>
#include <string>
#include <vector>

#include "fakelink.h"
#include "fakeupgrade.h"
#include "fuzz_common.h"
#include "upgrade/notify.h"
#include "upgrade/bootproto.h"

namespace {

struct Reply {
    const char *text;
    bool ok;
};
// Replies whose verdict is known without asking the code under test.
const Reply kReplies[] = {
    {"ok\r\n", true},   {"OK\r\n", true},           {"no\r\n", false}, {"", false},
    {":10AAok\r\n", true}, {nullptr, false},  // 300 characters, then ok: cut before the ok
    {"ok\n", false},    {"\x80\x20\x00\x01\r\n", false},
};

struct Sent {
    std::string text;
    bool readsReply;
    bool ok;
};

// The file's lines as the worker must read them: CR LF counts as LF, a line ends after its LF.
// good is the number of leading lines that may be sent: it stops at the first line too long
// for the line buffer and at the first record holding a NUL.
std::vector<std::string> HexLines(const std::string &bytes, size_t *good)
{
    std::vector<std::string> lines;
    std::string line;
    for (size_t i = 0; i < bytes.size(); i++) {
        char c = bytes[i];
        if (c == '\r' && i + 1 < bytes.size() && bytes[i + 1] == '\n') continue;
        line += c;
        if (c == '\n') {
            lines.push_back(line);
            line.clear();
        }
    }
    if (!line.empty()) lines.push_back(line);
    *good = lines.size();
    for (size_t i = 0; i < lines.size(); i++) {
        bool tooLong = lines[i].size() > BOOT_LINE_MAX;
        bool nulRecord = lines[i][0] == ':' && lines[i].find('\0') != std::string::npos;
        if (tooLong || nulRecord) {
            *good = i;
            break;
        }
    }
    return lines;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static const std::string hexPath = FuzzScratchDir() + "/fw.hex";
    static const std::string missingPath = FuzzScratchDir() + "/missing.hex";
    FuzzedDataProvider in(data, size);
    FakeLinkReset();
    FakeUpgradeReset();
    g_connection.interfaceKind = in.ConsumeIntegralInRange<int32_t>(1, 3);
    bool noPlan = in.ConsumeIntegralInRange<int>(0, 31) == 0;

    static LoadEntry entries[UPGRADE_MAX_ENTRIES];
    memset(entries, 0, sizeof entries);
    int entryCount = in.ConsumeIntegralInRange<int>(0, 4);
    for (int i = 0; i < entryCount; i++) {
        LoadEntry &e = entries[in.ConsumeIntegralInRange<int>(0, UPGRADE_MAX_ENTRIES - 1)];
        e.exists = in.ConsumeIntegralInRange<int>(0, 7) != 0;
        e.over = in.ConsumeBool();
        e.sector = in.ConsumeIntegralInRange<int32_t>(-1, 16);
        e.facts.size = in.ConsumeBool() ? in.ConsumeIntegral<uint32_t>() : in.ConsumeIntegralInRange<uint32_t>(0, 5000);
        snprintf(e.facts.name, sizeof e.facts.name, "file%d.hex", i);
        const std::string &p = in.ConsumeIntegralInRange<int>(0, 15) == 0 ? missingPath : hexPath;
        snprintf(e.path, sizeof e.path, "%s", p.c_str());
    }
    std::string hex = in.ConsumeRandomLengthString(6000);
    if (in.ConsumeBool() && !hex.empty() && hex.size() < 300) {
        // Lines around the buffer's length are the interesting ones: make a few.
        size_t len = BOOT_LINE_MAX - 3 + in.ConsumeIntegralInRange<size_t>(0, 5);
        std::string longLine = ":" + std::string(len - 2, 'A') + (in.ConsumeBool() ? "\n" : "\r\n");
        hex = hex + longLine + hex;
    }
    FUZZ_CHECK(FuzzWriteFile(hexPath, hex.data(), hex.size()));
    std::string script = in.ConsumeRemainingBytesAsString();

    std::vector<Sent> sent;
    size_t nextReply = 0;
    g_fake.onSend = [&](const std::string &text) {
        // The attention byte and the restart are followed by a drain, not a reply read.
        bool readsReply = text != "\x19" && text != "z\n" && text != "\x15";
        Reply r = {"ok\r\n", true};
        if (readsReply && nextReply < script.size()) r = kReplies[(uint8_t)script[nextReply++] % 8];
        sent.push_back({text, readsReply, r.ok});
        if (!readsReply) return;
        g_fake.input = r.text ? std::string(r.text) : std::string(300, 'a') + "ok\r\n";
    };

    static UpgradePlan plan;
    memset(&plan, 0, sizeof plan);
    plan.chosenEntries = noPlan ? nullptr : entries;
    bool succeeded = RunUpgradeProcedure(&plan);

    FUZZ_CHECK(succeeded == (plan.succeeded != 0));
    FUZZ_CHECK(!sent.empty() && sent[0].text == "\x19");
    size_t good;
    std::vector<std::string> lines = HexLines(hex, &good);
    size_t restarts = 0, erases = 0;
    for (size_t i = 0; i < sent.size(); i++) {
        const Sent &s = sent[i];
        restarts += s.text == "z\n";
        erases += s.text == "x";
        if (s.text[0] == ':') {
            // A whole line of the file, before anything that may not be sent, plus CR LF.
            FUZZ_CHECK(s.text.size() >= 2 && s.text.compare(s.text.size() - 2, 2, "\r\n") == 0);
            std::string line = s.text.substr(0, s.text.size() - 2);
            bool whole = false;
            for (size_t k = 0; k < good && !whole; k++) whole = lines[k] == line;
            FUZZ_CHECK(whole);
            FUZZ_CHECK(line.size() <= BOOT_LINE_MAX);
        }
        if (!s.readsReply || s.ok || i + 1 == sent.size()) continue;
        // Refused: only the same command may follow, and only as often as it may be retried.
        const Sent &next = sent[i + 1];
        FUZZ_CHECK(next.text == s.text);
        size_t run = 1;
        while (run <= i && sent[i - run].text == s.text && !sent[i - run].ok) run++;
        bool record = s.text[0] == ':';
        FUZZ_CHECK(record || s.text == "C7D2z\n");
        FUZZ_CHECK(run < (record ? (size_t)BOOT_RECORD_SENDS : 2u));
    }
    if (succeeded) {
        FUZZ_CHECK(restarts == 1 && sent.size() >= 2 && sent[sent.size() - 2].text == "z\n" &&
                   sent.back().text == "\x15");
    } else {
        FUZZ_CHECK(restarts == 0);
    }
    // A plan that names a sector without a select code for an entry must not erase anything.
    bool unselectable = false;
    for (const LoadEntry &e : entries) unselectable |= plan.chosenEntries && e.exists && !SectorSelectCode(e.sector);
    if (unselectable) FUZZ_CHECK(erases == 0 && !succeeded);

    FUZZ_CHECK(!g_fakeUpgrade.notes.empty() && g_fakeUpgrade.notes.back().code == UPGRADE_NOTIFY_FINISHED);
    int lastProgress = -1;
    for (const FakeNote &n : g_fakeUpgrade.notes) {
        if (n.code == UPGRADE_NOTIFY_PROGRESS) {
            FUZZ_CHECK(n.param >= 0 && n.param <= 100);
            lastProgress = (int)n.param;
        }
        if (n.code == UPGRADE_NOTIFY_STATUS || n.code == UPGRADE_NOTIFY_LOG) FUZZ_CHECK(n.text.size() < 320);
    }
    if (succeeded) FUZZ_CHECK(lastProgress == 100);
    return 0;
}
