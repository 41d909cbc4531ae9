// The script line interpreter: a list of arbitrary lines run by the timer tick (continuous
// runs and single steps) and line by line, with an instrument that answers from the input.
// "print" only ever writes inside the scratch folder: names are made relative, and what a
// run wrote is removed afterwards.
#include <unistd.h>

#include <cstring>
#include <string>
#include <vector>

#include "app/console.h"
#include "fakelink.h"
#include "fakescripthost.h"
#include "fakeui.h"
#include "fuzz_common.h"
#include "script/rpn.h"
#include "script/script.h"
#include "script/script_parse.h"

// Keeps a "print" line's file name inside the working (scratch) folder.
static std::string KeepPrintLocal(std::string line, std::vector<std::string> *written)
{
    if (MatchScriptDirective(line.c_str()) != DIR_PRINT) return line;
    size_t comma = line.find(',');
    if (comma == std::string::npos) return line;
    for (size_t i = comma + 1; i < line.size(); i++) {
        if (line[i] == '/') line[i] = '_';
    }
    std::string name = line.substr(comma + 1);
    if (name.size() > 200) line.resize(comma + 1 + 200);
    written->push_back(line.substr(comma + 1));
    return line;
}

static void CheckParseRules(const char *line)
{
    int32_t ms = ParseWaitSeconds(line);
    FUZZ_CHECK(ms >= 1000 && ms <= 500000 && ms % 1000 == 0);
    ScriptDirective d = MatchScriptDirective(line);
    FUZZ_CHECK(d >= DIR_NONE && d <= DIR_SLOW);
    if (line[0] != '#') FUZZ_CHECK(d == DIR_NONE);
    const char *arg = ScriptArgument(line);
    FUZZ_CHECK(!arg || (arg > line && arg[-1] == ','));
    ScriptBincon b = ParseBinconArgument(line);
    if (!arg) FUZZ_CHECK(b == BINCON_TOGGLE);
    else if (!*arg) FUZZ_CHECK(b == BINCON_NOTHING);
    else FUZZ_CHECK(b == BINCON_ON || b == BINCON_OFF);
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    FuzzScratchDir();
    FuzzedDataProvider in(data, size);
    FakeLinkReset();
    FakeUiReset();
    FakeScriptHostReset();
    ScriptRunnerInit(&g_scriptRunner);
    g_connection.connected = 1;
    g_connection.interfaceKind = in.ConsumeIntegralInRange<int32_t>(1, 3);
    ConvertBinary = in.ConsumeBool();
    bool running = in.ConsumeBool();
    bool sendFails = in.ConsumeIntegralInRange<int>(0, 15) == 0;
    if (sendFails) g_fake.sendResult = -1;
    g_host.now = in.ConsumeIntegral<uint32_t>();
    g_host.clock = {in.ConsumeIntegral<int>(), in.ConsumeIntegral<int>(), in.ConsumeIntegral<int>(),
                    in.ConsumeIntegral<int>()};
    std::string answer = in.ConsumeRandomLengthString(64);
    g_fake.onSend = [&](const std::string &) { g_fake.input = answer; };

    std::vector<std::string> written;
    int lines = 0;
    while (in.remaining_bytes() > 0 && lines < 24) {
        std::string line = in.ConsumeRandomLengthString(2 * SCRIPT_LINE_SIZE + 8);
        if (in.ConsumeIntegralInRange<int>(0, 31) == 0) line.resize(SCRIPT_LINE_SIZE + in.ConsumeIntegralInRange<int>(-2, 2), '=');
        line = KeepPrintLocal(line, &written);
        CheckParseRules(line.c_str());
        g_host.lines.push_back(line);
        lines++;
    }
    int count = (int)g_host.lines.size();

    // A run through the timer tick, as the window program drives it.
    g_scriptRunner.state = running ? Running : Idle;
    for (int tick = 0; tick < 3 * count + 4; tick++) {
        if (!running) ScriptOnStep();
        g_host.now = g_scriptRunner.nextActionTime;
        if (in.ConsumeBool()) ReplyPollTo([](const char *) {});
        int before = g_host.selection < 0 ? 0 : g_host.selection;
        bool wasRunning = g_scriptRunner.state == Running;
        ScriptOutcome result = ScriptTick();
        FUZZ_CHECK(result.stop >= SCRIPT_GOES_ON && result.stop <= SCRIPT_STOP_SEND_FAILED);
        FUZZ_CHECK(result.ran || result.stop == SCRIPT_GOES_ON);
        if (result.stop == SCRIPT_STOP_SEND_FAILED) FUZZ_CHECK(sendFails);
        FUZZ_CHECK(g_host.selection == -1 || (g_host.selection > before && g_host.selection <= before + 2));
        FUZZ_CHECK(g_scriptRunner.lineDelayMs == 50 || g_scriptRunner.lineDelayMs == 250 ||
                   g_scriptRunner.lineDelayMs == 500);
        if (wasRunning && result.ran) {
            uint32_t wait = g_scriptRunner.nextActionTime - g_host.now;
            FUZZ_CHECK(wait <= 500 + 500000);
        }
        // A stop or pause makes the run Idle; carry on, to reach every line.
        if (wasRunning) g_scriptRunner.state = Running;
        if (g_host.selection == -1) break;
    }
    FUZZ_CHECK(g_scriptRunner.failCount >= 0 && g_scriptRunner.testsFailedTotal >= g_scriptRunner.failCount);

    // Every line once more on its own, also out of range.
    for (int current = -1; current <= count;) {
        int at = current;
        int stop = ExecuteScriptLine(&current, count);
        FUZZ_CHECK(current == at || current == at + 1);
        if (stop == SCRIPT_STOP_SEND_FAILED) FUZZ_CHECK(sendFails);
        current++;
    }
    for (const std::string &name : written) unlink(name.c_str());
    return 0;
}
