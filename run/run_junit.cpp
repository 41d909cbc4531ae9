// --junit FILE: a JUnit XML report of a script run, for the test systems that collect them.
// Every limit test the runner records is a test case named by its line in the script file
// and, for a measurement, the query whose value it tested, else its test word; a failed one carries the value and the limits, one that tests nothing is
// skipped with the reason. A query without a reply and a "print" that failed
// are test cases in error, and so is whatever ended the run early. Every run given --junit
// writes its report, whole or not at all. Main thread only.
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "common/fileio.h"
#include "common/fileio_win.h"
#include "common/textutil.h"
#include "run/run.h"
#include "script/rpn.h"
#include "script/script.h"
#include "script/script_host.h"

struct JunitCase {
    std::string name;
    const char *element;  // "failure", "error", "skipped", or null for a test that passed
    std::string type;     // of a failure or an error
    std::string message;
};

static struct {
    bool on;
    std::string reportPath;
    std::string suite;              // the script's file name
    DWORD startTick;
    SYSTEMTIME start;
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

static std::string TempPath() { return s_junit.reportPath + ".tmp"; }

bool RunJunitStart(const char *reportPath, const char *scriptPath, std::string *error)
{
    s_junit.reportPath = reportPath;
    FILE *f = FileOpen(TempPath().c_str(), "wb");
    bool writable = f != nullptr;
    if (f) fclose(f);
    DeleteFileW(WideFromUtf8(TempPath().c_str()).c_str());
    if (writable && !DeleteFileW(WideFromUtf8(reportPath).c_str()) && GetLastError() != ERROR_FILE_NOT_FOUND)
        writable = false;
    if (!writable) {
        *error = std::string("cannot write the JUnit report ") + reportPath;
        return false;
    }
    s_junit.on = true;
    const char *name = *scriptPath ? scriptPath : "quillon2-run";
    for (const char *p = scriptPath; *p; p++)
        if (*p == '\\' || *p == '/' || *p == ':') name = p + 1;
    s_junit.suite = name;
    s_junit.startTick = GetTickCount();
    GetLocalTime(&s_junit.start);
    return true;
}

std::string RunTestsNothingReason(int index)
{
    char line[SCRIPT_LINE_SIZE + 1];
    ScriptHostListText(index, line, sizeof line);
    return std::string(line) + " tests nothing: the test words are hi, lo, in and out, in small letters";
}

static void AddCase(int index, const char *element, const char *type, const std::string &message,
                    const std::string &what = std::string())
{
    char line[SCRIPT_LINE_SIZE + 1];
    ScriptHostListText(index, line, sizeof line);
    std::string name = RunLineName(index) + ": " + (what.empty() ? std::string(line[0] ? line + 1 : "") : what);
    s_junit.cases.push_back({name, element, type ? type : "", message});
}

// A test of a measurement is named by the query and the word ("meas:volt? hi"); one of
// numbers the script wrote by its line ("test,hi").
void RunJunitTest(int index, const ScriptTestResult &test)
{
    if (!s_junit.on) return;
    std::string query = ScriptCommandText(test.queryLine);
    std::string what = query.empty() ? std::string() : query + " " + test.word;
    switch (test.verdict) {
    case SCRIPT_TEST_PASSED: AddCase(index, nullptr, nullptr, std::string(), what); break;
    case SCRIPT_TEST_FAILED: AddCase(index, "failure", "limit test", RpnFailureText(test), what); break;
    case SCRIPT_TEST_NOTHING: AddCase(index, "skipped", nullptr, RunTestsNothingReason(index)); break;
    default: break;
    }
}

void RunJunitCase(const char *name, const char *element, const char *type, const std::string &message)
{
    if (s_junit.on) s_junit.cases.push_back({name, element, type ? type : "", message});
}

void RunJunitProblem(int index, int kind, const char *type, const std::string &message)
{
    if (s_junit.on) AddCase(index, kind == JUNIT_SKIPPED ? "skipped" : "error", type, message);
}

static std::string JunitXml()
{
    int counts[3] = {};  // failures, errors, skipped
    for (const JunitCase &c : s_junit.cases) {
        if (c.element) counts[c.element[0] == 'f' ? 0 : c.element[0] == 'e' ? 1 : 2]++;
    }
    const SYSTEMTIME &t = s_junit.start;
    double seconds = (GetTickCount() - s_junit.startTick) / 1000.0;
    unsigned tests = (unsigned)s_junit.cases.size();
    std::string suite = XmlText(s_junit.suite);
    char head[512];
    snprintf(head, sizeof head,
             "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
             "<testsuites tests=\"%u\" failures=\"%d\" errors=\"%d\" skipped=\"%d\" time=\"%.3f\">\n"
             "  <testsuite name=\"%s\" tests=\"%u\" failures=\"%d\" errors=\"%d\" skipped=\"%d\" time=\"%.3f\" "
             "timestamp=\"%04d-%02d-%02dT%02d:%02d:%02d\">\n",
             tests, counts[0], counts[1], counts[2], seconds, suite.c_str(), tests, counts[0], counts[1], counts[2],
             seconds, t.wYear, t.wMonth, t.wDay, t.wHour, t.wMinute, t.wSecond);
    std::string xml = head;
    for (const JunitCase &c : s_junit.cases) {
        xml += "    <testcase classname=\"" + suite + "\" name=\"" + XmlText(c.name) + "\" time=\"0\"";
        if (!c.element) {
            xml += "/>\n";
            continue;
        }
        xml += std::string(">\n      <") + c.element;
        if (!c.type.empty()) xml += " type=\"" + XmlText(c.type) + "\"";
        xml += " message=\"" + XmlText(c.message) + "\"/>\n    </testcase>\n";
    }
    return xml + "  </testsuite>\n</testsuites>\n";
}

void RunJunitFinish(const char *endedBy, const std::string &why)
{
    if (!s_junit.on) return;
    s_junit.on = false;
    if (endedBy) s_junit.cases.push_back({endedBy, "error", endedBy, why});
    std::string xml = JunitXml();
    // Written whole under another name first: a reader never finds half a report.
    std::string temp = TempPath();
    FILE *f = FileOpen(temp.c_str(), "wb");
    bool written = f && fwrite(xml.data(), 1, xml.size(), f) == xml.size();
    if (f && fclose(f) != 0) written = false;
    if (written)
        written = MoveFileExW(WideFromUtf8(temp.c_str()).c_str(), WideFromUtf8(s_junit.reportPath.c_str()).c_str(),
                              MOVEFILE_REPLACE_EXISTING) != 0;
    if (written) return;
    DeleteFileW(WideFromUtf8(temp.c_str()).c_str());
    RunWriteError(("cannot write the JUnit report " + s_junit.reportPath).c_str());
}
