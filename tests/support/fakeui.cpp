// Host stand-ins for link/ui.h and app/shell.h.
#include "fakeui.h"

#include "app/shell.h"
#include "link/ui.h"

FakeUi g_ui;

void FakeUiReset() { g_ui = FakeUi(); }

int UiMessage(UiOwner, const char *text, const char *caption, UiIcon icon, UiButtons buttons)
{
    g_ui.messages.push_back({text, caption, (int)icon, (int)buttons});
    return g_ui.answer;
}

void *UiBeginWait()
{
    g_ui.waits++;
    return &g_ui;
}

void UiEndWait(void *) { g_ui.waits--; }

void ShellAppendResults(const char *text) { g_ui.results += text; }
void ShellAppendNotice(const char *text) { g_ui.results += text; }
void ShellClearResults() { g_ui.results.clear(); }
std::string ShellResultsText() { return g_ui.results; }
void ShellShowConvertBinary(bool on) { g_ui.convertBinaryShown.push_back(on); }
void ShellLinkLost() { g_ui.linksLost++; }
