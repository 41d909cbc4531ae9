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

// Copies text into dst without the line end of an instrument that ends its lines with LF alone
// (a line break would end the value in the file) and without surrounding spaces.
static void RecoveryCopyTrimmed(char *dst, size_t cap, const char *text)
{
    std::string s(text, strcspn(text, "\r\n"));
    size_t first = s.find_first_not_of(" \t"), last = s.find_last_not_of(" \t");
    TextCopy(dst, cap, first == std::string::npos ? "" : s.substr(first, last - first + 1).c_str());
}

void RecoveryFill(RecoveryRecord *rec, const char *idnText, const char *versionText, const char *file)
{
    memset(rec, 0, sizeof *rec);
    RecoveryCopyTrimmed(rec->idnText, sizeof rec->idnText, idnText);
    RecoveryCopyTrimmed(rec->versionText, sizeof rec->versionText, versionText);
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
    char trimmed[UPGRADE_PATH_SIZE];
    RecoveryCopyTrimmed(trimmed, sizeof trimmed, idnText);
    std::vector<std::string> fields = TextSplit(trimmed, ',');
    if (fields.size() < 2) return trimmed;
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
