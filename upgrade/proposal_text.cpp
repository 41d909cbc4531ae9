// The proposed operation as plain text, for a front end without a rich-edit control: the
// rich text of BuildProposedOperation read back, with what it shows in red marked instead.
#include <cctype>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "upgrade/upgrade.h"

enum { PROPOSAL_RED = 3 };  // the colour table's red: a missing file or a sector out of range

// Appends a run of text shown in one colour: a red run goes in brackets, its trailing commas
// and blanks outside them, taking the place of up to two of those blanks so that the columns
// after a padded name stay where they were.
static void ProposalTextRun(std::string *out, std::string *run, int colour)
{
    if (colour != PROPOSAL_RED || run->empty()) {
        *out += *run;
        run->clear();
        return;
    }
    size_t end = run->find_last_not_of(" ,");
    end = end == std::string::npos ? 0 : end + 1;
    std::string tail = run->substr(end);
    for (int k = 0; k < 2 && !tail.empty() && tail.back() == ' '; k++) tail.pop_back();
    *out += "[" + run->substr(0, end) + "]" + tail;
    run->clear();
}

// Skips the group that starts at text[*i] ('{'), nested groups included.
static void ProposalSkipGroup(const char *text, size_t *i)
{
    int depth = 0;
    for (; text[*i]; ++*i) {
        if (text[*i] == '\\' && text[*i + 1]) ++*i;
        else if (text[*i] == '{') depth++;
        else if (text[*i] == '}' && --depth == 0) return;
    }
    --*i;
}

// A character as UTF-8, the names' own form.
static void ProposalTextUtf8(std::string *run, uint32_t cp)
{
    if (cp < 0x80) {
        *run += (char)cp;
    } else if (cp < 0x800) {
        *run += (char)(0xC0 | cp >> 6);
    } else if (cp < 0x10000) {
        *run += (char)(0xE0 | cp >> 12);
        *run += (char)(0x80 | (cp >> 6 & 0x3F));
    } else {
        *run += (char)(0xF0 | cp >> 18);
        *run += (char)(0x80 | (cp >> 12 & 0x3F));
        *run += (char)(0x80 | (cp >> 6 & 0x3F));
    }
    if (cp >= 0x80) *run += (char)(0x80 | (cp & 0x3F));
}

std::string ProposedOperationText(const char *richText)
{
    std::string out, run;
    int colour = 0;
    uint32_t high = 0;  // the first half of a character beyond U+FFFF
    for (size_t i = 0; richText[i]; i++) {
        char c = richText[i];
        if (c == '{') {
            // The font and colour tables are not text.
            if (!strncmp(richText + i + 1, "\\fonttbl", 8) || !strncmp(richText + i + 1, "\\colortbl", 9))
                ProposalSkipGroup(richText, &i);
        } else if (c == '\\' && isalpha((unsigned char)richText[i + 1])) {
            size_t word = ++i;
            while (isalpha((unsigned char)richText[i])) i++;
            std::string name(richText + word, i - word);
            size_t number = i;
            if (richText[i] == '-') i++;
            while (isdigit((unsigned char)richText[i])) i++;
            int value = atoi(std::string(richText + number, i - number).c_str());
            if (richText[i] != ' ') i--;  // a blank after a control word only ends it
            if (name == "u") {  // a character of a name, part of its run; then its stand-in '?'
                uint32_t unit = (uint32_t)value & 0xFFFF;
                if (unit >= 0xD800 && unit <= 0xDBFF) high = unit;
                else ProposalTextUtf8(&run, high && unit >= 0xDC00 && unit <= 0xDFFF
                                                ? 0x10000 + ((high - 0xD800) << 10) + (unit - 0xDC00) : unit);
                if (unit < 0xD800 || unit > 0xDBFF) high = 0;
                if (richText[i + 1]) i++;
                continue;
            }
            ProposalTextRun(&out, &run, colour);
            if (name == "par") out += '\n';
            if (name == "cf") colour = value;
        } else if (c == '\\' && richText[i + 1]) {
            run += richText[++i];  // an escaped backslash or brace
        } else if (c != '}' && c != '\r' && c != '\n') {  // a bare line end is no text in rich text
            run += c;
        }
    }
    ProposalTextRun(&out, &run, colour);
    return out;
}
