// Target checks before an upgrade: does the firmware's model suit the instrument, and does
// the instrument's internal version meet a target set's condition. Pure decisions; the
// upgrade command shows the texts.
#include <cstdio>
#include <cstring>
#include <vector>

#include "common/textutil.h"
#include "upgrade/upgrade.h"

// What the information panel shows for an instrument whose model cannot be read.
static const char UNKNOWN_INSTRUMENT[] = "Unknown Instrument";

// The model field of an identification (the text after its first comma) into model (cap).
static void TargetIdnModel(const char *idnText, char *model, size_t cap)
{
    const char *comma = strchr(idnText, ',');
    TextCopy(model, cap, comma ? comma + 1 : idnText);
}

bool TargetModelDiffers(const char *idnText, const char *targetModel)
{
    char model[128];
    TargetIdnModel(idnText, model, sizeof model);
    return *targetModel && !TextStartsWithNoCase(model, targetModel);
}

bool CheckTargetModel(const char *idnText, const char *targetModel, bool detected, char *text,
                      size_t cap)
{
    char model[128];
    TargetIdnModel(idnText, model, sizeof model);
    bool matches = TextStartsWithNoCase(model, targetModel);
    // Shown without the fields after it, nor the line end of an instrument that ends its
    // lines with LF alone; an answer without fields (a boot loader's error) names no model.
    model[strcspn(model, ",\r\n")] = '\0';
    if (!strchr(idnText, ',')) model[0] = '\0';
    const char *target = *targetModel ? targetModel : "Unknown Model";
    snprintf(text, cap,
             "The upgrade file is for a %s. You are connected to a %s\n\nPlease ensure the firmware "
             "file name and target instrument model match before continuing\n",
             target, *model ? model : UNKNOWN_INSTRUMENT);
    return !matches || !detected || !*targetModel;
}

static bool VersionHolds(int32_t comparison, int32_t version, int32_t threshold)
{
    switch (comparison) {
    case COMPARE_GT: return version > threshold;
    case COMPARE_GTEQ: return version >= threshold;
    case COMPARE_LT: return version < threshold;
    case COMPARE_LTEQ: return version <= threshold;
    case COMPARE_EQ: return version == threshold;
    default: return false;  // unrecognised (and none, which never reaches here)
    }
}

VersionVerdict CheckFirmwareVersion(const UpgradePlan *plan, const char *versionText)
{
    if (plan->comparison[0] == COMPARE_NONE) return {0, nullptr, UI_ICON_INFO};
    std::vector<std::string> fields = TextSplit(versionText, ',');
    if (fields.size() < 2) {
        return {-1,
                "Error communicating with instrument, unable to determine instrument internal version",
                UI_ICON_WARNING};
    }
    int32_t version = UpgradeTextToInt(fields[1].c_str());
    int last = 0;
    for (int s = 0; s < UPGRADE_SET_COUNT; s++) {
        if (s > 0 && plan->comparison[s] == COMPARE_NONE) break;
        last = s;
        if (VersionHolds(plan->comparison[s], version, plan->versionThreshold[s])) {
            return {s, nullptr, UI_ICON_INFO};
        }
    }
    if (plan->comparison[last] == COMPARE_UNRECOGNISED) {
        return {-1, "Error reading firmware, unable to determine firmware target", UI_ICON_WARNING};
    }
    return {-1, "The connected instrument is incompatible with the selected firmware", UI_ICON_INFO};
}
