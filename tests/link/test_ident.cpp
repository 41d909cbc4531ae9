// The model table: every row, the order in which rows are tried, and the exact comparison.
#include <gtest/gtest.h>

#include "link/ident.h"

TEST(Ident, EveryRowAndItsOrder)
{
    static const struct { const char *field; int code; } cases[] = {
        {"VDA09", 13}, {"VDA04", 13}, {"VDA08", 13}, {"VDA71", 15}, {"VDA80", 15}, {"VDA93", 15},
        {"QVN83", 9},  {"QVN44", 7},  {"QVN73", 7},  {"WDLX26", 10}, {"WDLX60", 11},
        {"RZT66", 5},  {"JKE20", 5},  {"RZT26", 4},  {"RZT86", 16}, {"RZT46", 2},  {"RZT49", 3},
        {"HCX interface", 3}, {"RZT76", 1}, {"RZT6", 6}, {"HGB", 12}, {"PCA", 12},
        // Longer model fields: only the pattern's length is compared.
        {"RZT7680,12345,1.0", 1},
        {"RZT60", 6},            // no five-character RZT row names it; "RZT6" does
        {"RZT66A", 5},           // the five-character row is tried before "RZT6"
        {"RZT6X", 6},
        {"PCAN-RS232", 12},
        {"HCX interface module", 3},
        {"HGB1000", 12},
        {"WDLX261", 10},
        // No match.
        {"HCX interfac", 0},     // shorter than the pattern
        {"hcx interface", 0},    // case-sensitive
        {"rzt76", 0},
        {" RZT76", 0},           // blanks are not skipped
        {"RZT", 0},
        {"WDLX2", 0},
        {"VDA05", 0},
        {"PC", 0},
        {"", 0},
        {"XYZ123", 0},
    };
    for (const auto &c : cases) EXPECT_EQ(c.code, ClassifyModel(c.field)) << "model field \"" << c.field << "\"";
    EXPECT_EQ(MODEL_UNKNOWN, ClassifyModel(nullptr));
}

TEST(Ident, LocalCalibrationModels)
{
    for (int code = -1; code <= 17; code++) {
        bool expected = code == 1 || code == 4 || code == 5 || code == 16;
        EXPECT_EQ(expected, IsLocalCalibrationModel(code)) << "code " << code;
    }
}
