// The LAN search behind the Connect dialog's find button. The search itself is not built
// yet: the button is shown for LAN but finds nothing.
#include "app/lan_find.h"

bool FindAndChooseInstrument(HWND, char *, size_t)
{
    return false;
}
