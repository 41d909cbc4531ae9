// Checks on the proposed-operation rich text shared by the targets that build it.
#pragma once
#include <string>

#include "fuzz_common.h"

// Braces balance outside escapes and every escape is complete: no text from an instrument or
// a descriptor can close a group early or leave one open.
inline void CheckRtfBalanced(const std::string &rtf)
{
    FUZZ_CHECK(rtf.compare(0, 6, "{\\rtf1") == 0);
    FUZZ_CHECK(!rtf.empty() && rtf.back() == '}');
    int depth = 0;
    for (size_t i = 0; i < rtf.size(); i++) {
        char c = rtf[i];
        if (c == '\\') {
            FUZZ_CHECK(i + 1 < rtf.size());
            i++;  // an escaped character or the first letter of a control word
            continue;
        }
        if (c == '{') depth++;
        if (c == '}') {
            depth--;
            FUZZ_CHECK(depth > 0 || i + 1 == rtf.size());
        }
    }
    FUZZ_CHECK(depth == 0);
}
