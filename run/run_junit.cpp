// --junit FILE: a JUnit XML report of a script run, for the test systems that collect them.
// Every limit test ("=test,...") the run carries out is a test case named by its line in the
// script file and its test word; a failed one carries the value and the limits. A run that a
// link failure or Ctrl-C ended adds a test case in error. Main thread only.
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "run/run.h"
#include "script/script.h"
#include "script/script_host.h"

struct JunitCase {
    std::string name;
    std::string failure;  // empty when the test passed
};

static struct {
    bool on;
    std::string reportPath;
    std::string suite;              // the script's file name
    std::vector<int> lineNumbers;   // file line of each list line
    DWORD startTick;
    SYSTEMTIME start;
    int failuresSeen;               // testsFailedTotal when the last test case was taken
    std::vector<JunitCase> cases;
} s_junit;

// Text for an attribute value: UTF-8, markup characters escaped, characters XML does not
// allow left out.
static std::string XmlText(const std::string &text)
{
    std::string out;
    for (char c : RunUtf8(text)) {
        switch (c) {
        case '&': out += "&amp;"; break;
        case '<': out += "&lt;"; break;
        case '>': out += "&gt;"; break;
        case '"': out += "&quot;"; break;
        default:
            if ((unsigned char)c >= 0x20 || c == '\t') out += c;
        }
    }
    return out;
}

bool RunJunitStart(const char *reportPath, const char *scriptPath, std::string *error)
{
    FILE *f = fopen(reportPath, "wb");
    if (!f) {
        *error = std::string("cannot write the JUnit report ") + reportPath;
        return false;
    }
    fclose(f);
    s_junit.on = true;
    s_junit.reportPath = reportPath;
    const char *name = scriptPath;
    for (const char *p = scriptPath; *p; p++)
        if (*p == '\\' || *p == '/' || *p == ':') name = p + 1;
    s_junit.suite = name;
    s_junit.lineNumbers = ScriptListLineNumbers(scriptPath);
    s_junit.startTick = GetTickCount();
    GetLocalTime(&s_junit.start);
    return true;
}

// What a failed test found: the value X against the limit Y, or the band from Y to Z.
static std::string JunitFailure(const char *word)
{
    const ScriptRunner *r = &g_scriptRunner;
    char text[160];
    if (!strcmp(word, "hi") || !strcmp(word, "lo")) {
        snprintf(text, sizeof text, "value %.15g %s the limit %.15g", r->stackX, word[0] == 'h' ? "above" : "below",
                 r->stackY);
    } else {
        snprintf(text, sizeof text, "value %.15g %s the band %.15g to %.15g", r->stackX,
                 !strcmp(word, "in") ? "inside" : "outside", r->stackY, r->stackZ);
    }
    return text;
}

void RunJunitLine(int index)
{
    char line[SCRIPT_LINE_SIZE + 1];
    ScriptHostListText(index, line, sizeof line);
    if (!s_junit.on || strncmp(line, "=test,", 6) != 0) return;
    int number = index < (int)s_junit.lineNumbers.size() ? s_junit.lineNumbers[index] : index + 1;
    JunitCase c = {"line " + std::to_string(number) + ": " + (line + 1), std::string()};
    // Only the tests count failures, and the run's total never goes down.
    if (g_scriptRunner.testsFailedTotal > s_junit.failuresSeen) c.failure = JunitFailure(line + 6);
    s_junit.failuresSeen = g_scriptRunner.testsFailedTotal;
    s_junit.cases.push_back(c);
}

void RunJunitFinish(int exitCode)
{
    if (!s_junit.on) return;
    const char *errorType = exitCode == RUN_EXIT_LINK ? "link" : exitCode == RUN_EXIT_INTERRUPTED ? "interrupted" : nullptr;
    int failures = 0;
    for (const JunitCase &c : s_junit.cases) failures += !c.failure.empty();
    size_t tests = s_junit.cases.size() + (errorType ? 1 : 0);
    const SYSTEMTIME &t = s_junit.start;
    char head[512];
    double seconds = (GetTickCount() - s_junit.startTick) / 1000.0;
    std::string suite = XmlText(s_junit.suite);
    snprintf(head, sizeof head,
             "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
             "<testsuites tests=\"%u\" failures=\"%d\" errors=\"%d\" time=\"%.3f\">\n"
             "  <testsuite name=\"%s\" tests=\"%u\" failures=\"%d\" errors=\"%d\" skipped=\"0\" time=\"%.3f\" "
             "timestamp=\"%04d-%02d-%02dT%02d:%02d:%02d\">\n",
             (unsigned)tests, failures, errorType ? 1 : 0, seconds, suite.c_str(), (unsigned)tests, failures,
             errorType ? 1 : 0, seconds, t.wYear, t.wMonth, t.wDay, t.wHour, t.wMinute, t.wSecond);
    std::string xml = head;
    std::string open = "    <testcase classname=\"" + suite + "\" name=\"";
    for (const JunitCase &c : s_junit.cases) {
        xml += open + XmlText(c.name) + "\" time=\"0\"";
        if (c.failure.empty()) xml += "/>\n";
        else xml += ">\n      <failure type=\"limit test\" message=\"" + XmlText(c.failure) + "\"/>\n    </testcase>\n";
    }
    if (errorType) {
        xml += open + errorType + "\" time=\"0\">\n      <error type=\"" + errorType + "\" message=\"" +
               XmlText(RunLastError()) + "\"/>\n    </testcase>\n";
    }
    xml += "  </testsuite>\n</testsuites>\n";
    FILE *f = fopen(s_junit.reportPath.c_str(), "wb");
    bool written = f && fwrite(xml.data(), 1, xml.size(), f) == xml.size();
    if (f && fclose(f) != 0) written = false;
    if (!written) RunWriteError(("cannot write the JUnit report " + s_junit.reportPath).c_str());
}
