// The script calculator and its limit tests (see rpn.h). Arithmetic is plain double
// precision: division by zero and roots of negatives give infinities and NaNs, which
// never stop a script, and every comparison with a NaN is false, so such a test passes.
#include "script/rpn.h"

#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <utility>

#include "common/textutil.h"

void RpnReset(ScriptRunner *r)
{
    r->stackX = r->stackY = r->stackZ = r->stackT = 0;
    r->failCount = 0;
    r->stopOnFail = false;
    r->failedTest = ScriptTestResult();
    RpnClearRegisters(r);
    r->commandLine = -1;
    if (!r->awaitingReply) r->waitLine = -1;  // a wait left pending by the last run still counts
    r->fromX = r->fromY = r->fromZ = r->fromT = -1;
}

void RpnClearRegisters(ScriptRunner *r)
{
    memset(r->registers, 0, sizeof r->registers);
    r->registerCount = 0;
}

// A whole field as a decimal number: a sign, digits with a decimal point, an exponent; or
// false. A converted packed value of the power 0 ends in a bare "E" ("3.00000E").
static bool ReadWholeNumber(const char *field, size_t len, double *value)
{
    char text[64];
    if (len == 0 || len >= sizeof text) return false;
    memcpy(text, field, len);
    if (len > 1 && (text[len - 1] == 'E' || text[len - 1] == 'e') && isdigit((unsigned char)text[len - 2])) len--;
    text[len] = '\0';
    const char *p = text + (text[0] == '+' || text[0] == '-');
    if (!isdigit((unsigned char)*p) && !(*p == '.' && isdigit((unsigned char)p[1]))) return false;
    if (p[0] == '0' && (p[1] == 'x' || p[1] == 'X')) return false;
    char *end;
    *value = strtod(text, &end);
    return *end == '\0';
}

int RpnReplyNumbers(const char *line, double *out, int cap)
{
    int count = 0;
    const char *p = line;
    while (*p && count < cap) {
        size_t len = strcspn(p, ", \t");
        double v;
        if (ReadWholeNumber(p, len, &v)) out[count++] = v;
        p += len;
        if (*p) p++;
    }
    return count;
}

void RpnStoreReply(ScriptRunner *r, const char *line)
{
    r->registerCount += RpnReplyNumbers(line, r->registers + r->registerCount, SCRIPT_REGISTERS - r->registerCount);
}

// Pushes v, which came from the reply of list line from (-1: the script's own number).
static void PushFrom(ScriptRunner *r, double v, int32_t from)
{
    r->stackT = r->stackZ;
    r->stackZ = r->stackY;
    r->stackY = r->stackX;
    r->stackX = v;
    r->fromT = r->fromZ;
    r->fromZ = r->fromY;
    r->fromY = r->fromX;
    r->fromX = from;
}

void RpnPush(ScriptRunner *r, double v) { PushFrom(r, v, -1); }

// Y = Z, Z = T; T keeps its value, so it then stands in both Z and T.
static void RpnDrop(ScriptRunner *r)
{
    r->stackY = r->stackZ;
    r->stackZ = r->stackT;
    r->fromY = r->fromZ;
    r->fromZ = r->fromT;
}

// X = result of X and Y, then drop: the result measures what X measured, or else Y.
static void Combine(ScriptRunner *r, double result)
{
    r->stackX = result;
    if (r->fromX < 0) r->fromX = r->fromY;
    RpnDrop(r);
}

// Reads a decimal number as the standard conversion does, but decimal only: a hex form
// ("0x10") or a word ("+inf") must not sneak in through strtod's extensions.
static double RpnReadNumber(const char *text)
{
    const char *p = text;
    if (*p == '+' || *p == '-') p++;
    bool startsDecimal = isdigit((unsigned char)*p) || (*p == '.' && isdigit((unsigned char)p[1]));
    if (!startsDecimal) return 0;
    if (p[0] == '0' && (p[1] == 'x' || p[1] == 'X')) return text[0] == '-' ? -0.0 : 0.0;
    return strtod(text, nullptr);
}

// A test compares X with the limits in Y (and Z); a failure is counted. A word the
// calculator does not know tests nothing.
static void RpnTest(ScriptRunner *r, const char *word)
{
    ScriptTestResult *t = &r->lastTest;
    *t = ScriptTestResult();
    if (!RpnIsTestWord(word)) {
        t->verdict = SCRIPT_TEST_NOTHING;
        return;
    }
    TextCopy(t->word, sizeof t->word, word);
    t->queryLine = r->fromX;
    double x = r->stackX, y = r->stackY, z = r->stackZ;
    t->value = x;
    t->lo = word[0] == 'h' ? -INFINITY : y;
    t->hi = word[0] == 'h' ? y : word[0] == 'l' ? INFINITY : z;
    bool failed = false;
    if (strcmp(word, "hi") == 0) failed = x > y;
    else if (strcmp(word, "lo") == 0) failed = x < y;
    else if (strcmp(word, "out") == 0) failed = x > z || x < y;
    else failed = y < x && x < z;  // "in"
    t->verdict = failed ? SCRIPT_TEST_FAILED : SCRIPT_TEST_PASSED;
    if (!failed) return;
    r->failCount++;
    r->testsFailedTotal++;
    // Kept apart from the stack: a pause on a later '=' line names this test, not the values
    // the stack holds by then.
    r->failedTest = *t;
}

bool RpnIsTestWord(const char *word)
{
    return !strcmp(word, "hi") || !strcmp(word, "lo") || !strcmp(word, "out") || !strcmp(word, "in");
}

// The stack operators; false when text is none of them.
static bool RpnOperator(ScriptRunner *r, const char *text)
{
    auto is = [text](const char *a, const char *b = nullptr) {
        return strcmp(text, a) == 0 || (b && strcmp(text, b) == 0);
    };
    if (is("*", "mul")) {
        Combine(r, r->stackY * r->stackX);
    } else if (is("/", "div")) {
        Combine(r, r->stackX / r->stackY);
    } else if (is("+", "add")) {
        Combine(r, r->stackY + r->stackX);
    } else if (is("-", "sub")) {
        Combine(r, r->stackX - r->stackY);
    } else if (is("^", "enter")) {
        PushFrom(r, r->stackX, r->fromX);
    } else if (is("drop")) {
        r->stackX = r->stackY;
        r->fromX = r->fromY;
        RpnDrop(r);
    } else if (is("roll")) {
        double oldX = r->stackX;
        int32_t oldFrom = r->fromX;
        r->stackX = r->stackY;
        r->stackY = r->stackZ;
        r->stackZ = r->stackT;
        r->stackT = oldX;
        r->fromX = r->fromY;
        r->fromY = r->fromZ;
        r->fromZ = r->fromT;
        r->fromT = oldFrom;
    } else if (is("swap")) {
        std::swap(r->stackX, r->stackY);
        std::swap(r->fromX, r->fromY);
    } else if (is("sqrt")) {
        r->stackX = sqrt(r->stackX);
    } else {
        return false;
    }
    return true;
}

bool RpnEvaluate(ScriptRunner *r, const char *text)
{
    if (RpnOperator(r, text)) return true;
    if (text[0] == '[') {
        long n = TextToInt(text + 1);
        if (n >= 1 && n <= SCRIPT_REGISTERS) PushFrom(r, r->registers[n - 1], r->waitLine);
    } else if (text[0] == '+' || text[0] == '-' || isdigit((unsigned char)text[0])) {
        RpnPush(r, RpnReadNumber(text));
    } else if (strcmp(text, "cleartest") == 0) {
        r->failCount = 0;
        return false;
    } else if (strcmp(text, "stop,onfail") == 0) {
        r->stopOnFail = true;
    } else if (strncmp(text, "test,", 5) == 0) {
        RpnTest(r, text + 5);
    } else if (TextStartsWithNoCase(text, "test,")) {
        RpnTest(r, "");  // "TEST,hi" looks like a test, but the words are in small letters
    }
    return true;
}

bool RpnShouldStop(const ScriptRunner *r) { return r->failCount != 0 && r->stopOnFail; }

static std::string RpnNumberText(double v)
{
    char text[32];
    snprintf(text, sizeof text, "%.15g", v);
    return text;
}

std::string RpnFailureText(const ScriptTestResult &test)
{
    if (test.verdict != SCRIPT_TEST_FAILED) return std::string();
    const char *word = test.word;
    std::string x = RpnNumberText(test.value), lo = RpnNumberText(test.lo), hi = RpnNumberText(test.hi);
    if (!strcmp(word, "in")) return lo + " < " + x + " < " + hi + " (in)";
    // hi and out fail above the upper limit, lo and out below the lower one.
    bool above = !strcmp(word, "hi") || (!strcmp(word, "out") && test.value > test.hi);
    return x + (above ? " > " + hi : " < " + lo) + " (" + word + ")";
}
