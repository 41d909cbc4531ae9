// The proposed operation as plain text, for a front end without a rich-edit control: the
// rich text of BuildProposedOperation read back, with what it shows in red marked instead.
#include <cctype>
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

std::string ProposedOperationText(const char *richText)
{
    std::string out, run;
    int colour = 0;
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
