// The two numbered tables of user-interface texts. Every caption, list entry, prompt and
// message shown to the user comes from here by its number; unused entries are empty.
#pragma once

enum { LINK_TEXT_COUNT = 111, APP_TEXT_COUNT = 121 };

extern const char *const LinkTextTable[LINK_TEXT_COUNT];
extern const char *const AppTextTable[APP_TEXT_COUNT];
