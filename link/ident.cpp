// The model table: which model field of an identification reply means which ModelCode.
#include "link/ident.h"

#include <cstring>

namespace {

struct ModelPattern {
    const char *pattern;
    int code;
};

// Order matters: the short "RZT6" row must come after every five-character RZT row, so that
// it catches only the RZT6 models none of them names.
const ModelPattern kModelTable[] = {
    {"VDA09", MODEL_VDA04},  {"VDA04", MODEL_VDA04},  {"VDA08", MODEL_VDA04},
    {"VDA71", MODEL_VDA71},  {"VDA80", MODEL_VDA71},  {"VDA93", MODEL_VDA71},
    {"QVN83", MODEL_QVN83},  {"QVN44", MODEL_QVN73},  {"QVN73", MODEL_QVN73},
    {"WDLX26", MODEL_WDLX26}, {"WDLX60", MODEL_WDLX60},
    {"RZT66", MODEL_RZT66},  {"JKE20", MODEL_RZT66},  {"RZT26", MODEL_RZT26},
    {"RZT86", MODEL_RZT86},  {"RZT46", MODEL_RZT46},  {"RZT49", MODEL_RZT49},
    {"HCX interface", MODEL_RZT49},
    {"RZT76", MODEL_RZT76},  {"RZT6", MODEL_RZT6},
    {"HGB", MODEL_HGB},      {"PCA", MODEL_HGB},
};

}  // namespace

int ClassifyModel(const char *afterComma)
{
    if (!afterComma) return MODEL_UNKNOWN;
    for (const ModelPattern &row : kModelTable) {
        // strncmp stops at the text's NUL, so a shorter text never matches.
        if (strncmp(afterComma, row.pattern, strlen(row.pattern)) == 0) return row.code;
    }
    return MODEL_UNKNOWN;
}

bool IsLocalCalibrationModel(int modelCode)
{
    return modelCode == MODEL_RZT76 || modelCode == MODEL_RZT26 || modelCode == MODEL_RZT66 ||
           modelCode == MODEL_RZT86;
}

InstrumentIdentity ReadInstrumentIdentity(const std::string &idn)
{
    std::string fields[3];
    size_t start = 0;
    for (int i = 0; i < 3; i++) {
        size_t end = idn.find(',', start);
        std::string field = idn.substr(start, end == std::string::npos ? std::string::npos : end - start);
        size_t a = field.find_first_not_of(' '), b = field.find_last_not_of(' ');
        if (a != std::string::npos) fields[i] = field.substr(a, b - a + 1);
        if (end == std::string::npos) break;
        start = end + 1;
    }
    return InstrumentIdentity{fields[1], fields[2]};
}

bool SameInstrument(const InstrumentIdentity &a, const InstrumentIdentity &b)
{
    return !a.serialNumber.empty() && a.model == b.model && a.serialNumber == b.serialNumber;
}
