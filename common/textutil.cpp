// Small text helpers shared by every subsystem.
#include "common/textutil.h"

#include <cctype>
#include <climits>
#include <cstring>

size_t TextCopy(char *dst, size_t cap, const char *src)
{
    size_t len = strlen(src);
    if (cap == 0) return len;
    size_t n = len < cap - 1 ? len : cap - 1;
    memcpy(dst, src, n);
    dst[n] = '\0';
    return len;
}

size_t TextCopyN(char *dst, size_t cap, const char *src, size_t n)
{
    if (cap == 0) return 0;
    size_t len = strnlen(src, n);
    if (len > cap - 1) len = cap - 1;
    memcpy(dst, src, len);
    dst[len] = '\0';
    return len;
}

size_t TextAppend(char *dst, size_t cap, const char *src)
{
    size_t have = strnlen(dst, cap);
    if (have >= cap) return have + strlen(src);
    return have + TextCopy(dst + have, cap - have, src);
}

long TextToInt(const char *text)
{
    const unsigned char *p = (const unsigned char *)text;
    while (isspace(*p)) p++;
    bool negative = false;
    if (*p == '+' || *p == '-') negative = *p++ == '-';
    long value = 0;
    for (; isdigit(*p); p++) {
        int digit = *p - '0';
        if (value > (LONG_MAX - digit) / 10) {
            value = LONG_MAX;  // saturate; keep consuming digits
            continue;
        }
        value = value * 10 + digit;
    }
    return negative ? -value : value;
}

bool TextStartsWithNoCase(const char *text, const char *prefix)
{
    for (; *prefix; prefix++, text++) {
        if (tolower((unsigned char)*text) != tolower((unsigned char)*prefix)) return false;
    }
    return true;
}

bool TextEqualNoCase(const char *a, const char *b)
{
    for (; *a && *b; a++, b++) {
        if (tolower((unsigned char)*a) != tolower((unsigned char)*b)) return false;
    }
    return *a == *b;
}

std::vector<std::string> TextSplit(const char *text, char sep)
{
    std::vector<std::string> pieces;
    const char *start = text;
    for (const char *p = text; *p; p++) {
        if (*p == sep) {
            pieces.emplace_back(start, p - start);
            start = p + 1;
        }
    }
    if (*start) pieces.emplace_back(start);
    return pieces;
}

size_t TextFolderLength(const char *path)
{
    const char *back = strrchr(path, '\\'), *slash = strrchr(path, '/');
    const char *sep = back > slash ? back : slash;
    return sep ? (size_t)(sep - path) + 1 : 0;
}
