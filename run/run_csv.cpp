// --csv FILE: the measurement log of a script run. One row for each reply line that came
// while a reply wait was armed: the local time (ISO 8601, to the millisecond), the number of
// the script file's line that sent the command, the command, the reply line and the numbers
// it stored in the result registers, blank-separated in one field, so that every row has the
// header's five fields. Text fields are always quoted (RFC 4180); rows end in CR LF; the text
// is UTF-8. Rows are written as they come, so a run that is
// killed keeps what it measured. Main thread only.
#include <windows.h>

#include <cstdio>
#include <string>

#include "common/fileio.h"
#include "run/run.h"
#include "script/script.h"

static struct {
    FILE *file;
    std::string path;
    bool failed;  // a write failed: the log is incomplete
} s_csv;

// A text field: in quotes, a quote doubled, control characters but the tab left out.
static std::string CsvText(const std::string &text)
{
    std::string out = "\"";
    for (char c : RunUtf8(text)) {
        if (c == '"') out += "\"\"";
        else if ((unsigned char)c >= 0x20 || c == '\t') out += c;
    }
    return out + "\"";
}

static void WriteCsv(const std::string &text)
{
    if (!s_csv.file || s_csv.failed) return;
    if (fwrite(text.data(), 1, text.size(), s_csv.file) != text.size() || fflush(s_csv.file) != 0) s_csv.failed = true;
}

bool RunCsvStart(const char *path, std::string *error)
{
    s_csv.path = path;
    s_csv.file = FileOpen(path, "wb");
    if (!s_csv.file) {
        *error = std::string("cannot write the measurement log ") + path;
        return false;
    }
    WriteCsv("time,line,query,reply,numbers\r\n");
    return true;
}

void RunCsvRow(int commandLine, const char *reply, const double *numbers, int count)
{
    if (!s_csv.file) return;
    SYSTEMTIME t;
    GetLocalTime(&t);
    char text[64];
    snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d.%03d,", t.wYear, t.wMonth, t.wDay, t.wHour, t.wMinute,
             t.wSecond, t.wMilliseconds);
    std::string row = text;
    if (commandLine >= 0) row += std::to_string(RunLineNumber(commandLine));
    row += "," + CsvText(ScriptCommandText(commandLine)) + "," + CsvText(reply) + ",";
    for (int i = 0; i < count; i++) {
        snprintf(text, sizeof text, i ? " %.15g" : "%.15g", numbers[i]);
        row += text;
    }
    WriteCsv(row + "\r\n");
}

bool RunCsvFinish()
{
    if (!s_csv.file) return true;
    if (fclose(s_csv.file) != 0) s_csv.failed = true;
    s_csv.file = nullptr;
    if (s_csv.failed) RunWriteError(("cannot write the measurement log " + s_csv.path).c_str());
    return !s_csv.failed;
}
