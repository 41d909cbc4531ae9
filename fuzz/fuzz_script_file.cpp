// Reading script files: any bytes in a file, read through the script test and the list
// loader. The list must hold exactly the lines an independent reading of the same bytes
// finds, each within the line limit, and the verdicts of both readers must agree.
#include <cstring>
#include <string>
#include <vector>

#include "fakescripthost.h"
#include "fakeui.h"
#include "fuzz_common.h"
#include "script/script.h"
#include "script/script_parse.h"

// The file as the loader must see it: pieces of at most 4095 bytes ending after an LF, each
// read as a C string, cut at its last CR and then at its last LF.
static void ExpectedList(const std::string &bytes, std::vector<std::string> *listed, bool *qualifies)
{
    *qualifies = false;
    size_t pos = 0;
    while (pos < bytes.size()) {
        size_t end = pos;
        while (end < bytes.size() && end - pos < SCRIPT_READ_SIZE - 1) {
            if (bytes[end++] == '\n') break;
        }
        std::string piece = bytes.substr(pos, end - pos);
        pos = end;
        piece = piece.substr(0, strlen(piece.c_str()));
        size_t cr = piece.rfind('\r');
        if (cr != std::string::npos) piece.resize(cr);
        size_t lf = piece.rfind('\n');
        if (lf != std::string::npos) piece.resize(lf);
        if (!piece.empty() && (piece[0] == '"' || piece[0] == '#')) *qualifies = true;
        if (!piece.empty() && piece[0] != 26 && piece.size() < SCRIPT_LINE_SIZE) listed->push_back(piece);
    }
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const std::string path = FuzzScratchDir() + "/script.txt";
    std::string bytes((const char *)data, size);
    if (size > 0 && (data[0] & 0x31) == 0x31 && size < 600) {
        // Long lines are what the read buffer exists for: stretch small inputs past it.
        while (bytes.size() < 2 * SCRIPT_READ_SIZE + 3) bytes += std::string((const char *)data, size);
    }
    FUZZ_CHECK(FuzzWriteFile(path, bytes.data(), bytes.size()));
    FakeUiReset();
    FakeScriptHostReset();
    g_host.lines.push_back("left from before");
    g_host.selection = 0;

    std::vector<std::string> expected;
    bool qualifies;
    ExpectedList(bytes, &expected, &qualifies);

    bool tested = ScriptFileTest(path.c_str());
    FUZZ_CHECK(tested == qualifies);
    FUZZ_CHECK(g_ui.messages.size() == (qualifies ? 0u : 1u));
    FUZZ_CHECK(g_host.lines.size() == 1);  // the test alone never touches the list

    bool reset = size > 0 && (data[0] & 2);
    bool loaded = LoadScriptList(path.c_str(), reset);
    FUZZ_CHECK(loaded == qualifies);
    FUZZ_CHECK(g_host.selection == -1);
    if (!reset) expected.insert(expected.begin(), "left from before");
    FUZZ_CHECK(g_host.lines == expected);
    for (const std::string &line : g_host.lines) {
        FUZZ_CHECK(line.size() < SCRIPT_LINE_SIZE);
        FUZZ_CHECK(line.find('\n') == std::string::npos);
    }
    for (const FakeUiMessage &m : g_ui.messages) FUZZ_CHECK(m.text.find(path) != std::string::npos);
    return 0;
}
