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

// The file as the loader must see it: a leading UTF-8 byte-order mark dropped, lines ended
// by CR, LF or CR LF, each read as a C string. A line of SCRIPT_LINE_SIZE characters or more
// refuses the file (*tooLong) and nothing of it is listed.
static void ExpectedList(const std::string &bytes, std::vector<std::string> *listed, bool *qualifies, bool *tooLong)
{
    *qualifies = *tooLong = false;
    size_t pos = bytes.compare(0, 3, "\xEF\xBB\xBF") == 0 ? 3 : 0;
    while (pos < bytes.size()) {
        size_t end = bytes.find_first_of("\r\n", pos);
        if (end == std::string::npos) end = bytes.size();
        std::string line = bytes.substr(pos, end - pos);
        pos = end;
        if (pos < bytes.size() && bytes[pos++] == '\r' && pos < bytes.size() && bytes[pos] == '\n') pos++;
        if (line.size() >= SCRIPT_LINE_SIZE) {
            *tooLong = true;
            listed->clear();
            return;
        }
        line = line.substr(0, strlen(line.c_str()));
        if (!line.empty() && (line[0] == '"' || MatchScriptDirective(line.c_str()) != DIR_NONE)) *qualifies = true;
        if (!line.empty() && line[0] != 26) listed->push_back(line);
    }
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const std::string path = FuzzScratchDir() + "/script.txt";
    std::string bytes((const char *)data, size);
    if (size > 0 && (data[0] & 0x31) == 0x31 && size < 600) {
        // Long lines are what the line limit exists for: stretch small inputs past it.
        while (bytes.size() < 2 * SCRIPT_LINE_SIZE + 3) bytes += std::string((const char *)data, size);
    }
    FUZZ_CHECK(FuzzWriteFile(path, bytes.data(), bytes.size()));
    FakeUiReset();
    FakeScriptHostReset();
    g_host.lines.push_back("left from before");
    g_host.selection = 0;

    std::vector<std::string> expected;
    bool qualifies, tooLong;
    ExpectedList(bytes, &expected, &qualifies, &tooLong);
    if (tooLong) qualifies = false;

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
