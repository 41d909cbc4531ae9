// The portable side of the boot-loader recovery record: the link's name, the record's fill and
// the texts shown to the user.
#include "upgrade/recovery.h"

#include <cstring>
#include <ctime>
#include <vector>

#include "common/textutil.h"

std::string RecoveryLinkName(const ConnectionRecord *rec)
{
    switch (rec->interfaceKind) {
    case IFACE_USB:
    case IFACE_SERIAL: return rec->portName;
    case IFACE_LAN: return std::string("LAN ") + rec->ipAddress;
    default: return std::string();
    }
}

void RecoveryFill(RecoveryRecord *rec, const char *idnText, const char *versionText, const char *file)
{
    memset(rec, 0, sizeof *rec);
    TextCopy(rec->idnText, sizeof rec->idnText, idnText);
    TextCopy(rec->versionText, sizeof rec->versionText, versionText);
    TextCopy(rec->file, sizeof rec->file, file);
    time_t now = time(nullptr);
    struct tm local = {};
    const struct tm *t = localtime(&now);
    if (t) local = *t;
    strftime(rec->time, sizeof rec->time, "%Y-%m-%d %H:%M", &local);
}

// "<model> <serial>" from the identification "maker,model,serial,version"; what is missing is
// left out, and an identification without fields stands for itself.
static std::string RecoveryInstrumentName(const char *idnText)
{
    std::vector<std::string> fields = TextSplit(idnText, ',');
    if (fields.size() < 2) return idnText;
    std::string name = fields[1];
    if (fields.size() > 2 && !fields[2].empty()) name += " " + fields[2];
    return name;
}

bool RecoveryIsInstrument(const RecoveryRecord *rec, const char *idnText)
{
    return RecoveryInstrumentName(rec->idnText) == RecoveryInstrumentName(idnText);
}

std::string RecoveryQuestion(const RecoveryRecord *rec)
{
    return "The instrument " + RecoveryInstrumentName(rec->idnText) +
           " is still in its boot loader after a failed upgrade at " + rec->time + ". Program it again with " +
           rec->file + "?";
}

std::string RecoveryOtherFileText(const RecoveryRecord *rec)
{
    return "The instrument " + RecoveryInstrumentName(rec->idnText) +
           " is still in its boot loader after a failed upgrade with " + rec->file +
           ". It can only be programmed again with that file.";
}
