// The connection's books, kept alike by the window and the runner.
#include "app/connection.h"

#include "app/console.h"

void ConnectionForget(ConnectionRecord *rec)
{
    rec->connected = 0;
    rec->modelCode = 0;
}

bool ConnectionBegin(ConnectionRecord *rec, bool identified)
{
    rec->connected = identified ? 1 : 0;
    ReplyPollReset();
    if (!identified) {
        ConnectionEnd(rec);
        return false;
    }
    rec->pollEnabled = 1;
    return true;
}

// The flags go first: the runner closes the link under a connect sequence still running on
// a thread of its own.
void ConnectionEnd(ConnectionRecord *rec)
{
    rec->pollEnabled = 0;
    rec->connected = 0;
    CloseLink(rec);
}
