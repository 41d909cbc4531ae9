// Packed binary numbers: known-answer vectors and the text form's exponent rules.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>

#include "link/link.h"

// Encodes v exactly as an instrument would (test-side encoder, independent of the decoder:
// the cases below are checked against hand-written bytes as well).
static void Encode(double v, unsigned char out[4])
{
    memset(out, 0, 4);
    out[0] = 0x80;
    if (v == 0) return;
    int exp;
    double m = frexp(fabs(v), &exp);  // m in [0.5, 1)
    long mant = lround(m * (1 << 20));
    if (mant == (1 << 20)) { mant >>= 1; exp++; }
    out[0] = (unsigned char)(0x80 | (exp < 0 ? 0x40 | (exp + 64) : exp));
    out[1] = (unsigned char)((v < 0 ? 0x40 : 0) | ((mant >> 14) & 0x3F));
    out[2] = (unsigned char)((mant >> 7) & 0x7F);
    out[3] = (unsigned char)(mant & 0x7F);
}

TEST(Packed, KnownBytes)
{
    static const struct { unsigned char b[4]; const char *text; double value; } cases[] = {
        {{0x82, 0x30, 0x20, 0x20}, "3.01575E", 3.0157470703125},  // exponent 2, mantissa 790560
        {{0xFF, 0x20, 0x01, 0x01}, "2.50062E-1", 524417.0 / (1 << 21)},  // exponent -1
        {{0x82, 0x10, 0x41, 0x41}, "0.00000E", 0.0},  // mantissa bit 19 clear: zero
        {{0x88, 0x25, 0x00, 0x00}, "1.48000E2", 148.0},
        {{0x82, 0x70, 0x00, 0x00}, "-3.00000E", -3.0},  // sign bit in byte 1
        {{0x82, 0xB0, 0xA0, 0xA0}, "3.01575E", 3.0157470703125},  // top bits of 1..3 ignored
    };
    for (const auto &c : cases) {
        char text[PACKED_TEXT_SIZE];
        double v = ConvertPackedValue(c.b, text);
        EXPECT_STREQ(c.text, text) << std::hex << (int)c.b[0] << " " << (int)c.b[1];
        EXPECT_DOUBLE_EQ(c.value, v);
    }
}

TEST(Packed, TextFormOfValues)
{
    static const struct { double v; const char *text; } cases[] = {
        {150, "1.50000E2"},     {0.001, "1.00000E-3"}, {-1536, "-1.53600E3"},
        {1e-10, "1.00000E-10"}, {3, "3.00000E"},       {0, "0.00000E"},
        {12345678, "1.23457E7"}, {-0.5, "-5.00000E-1"},
    };
    for (const auto &c : cases) {
        unsigned char b[4];
        Encode(c.v, b);
        char text[PACKED_TEXT_SIZE];
        ConvertPackedValue(b, text);
        EXPECT_STREQ(c.text, text) << c.v;
    }
}

TEST(Packed, ExponentExtremesFitTheBuffer)
{
    // Largest and smallest magnitudes the format can carry, both signs.
    unsigned char biggest[4] = {0xBF, 0x7F, 0x7F, 0x7F};   // -(1 - 2^-20) * 2^63
    unsigned char smallest[4] = {0xC0, 0x20, 0x00, 0x00};  // 0.5 * 2^-64
    char text[PACKED_TEXT_SIZE + 8];
    memset(text, 'x', sizeof text);
    EXPECT_NEAR(-9.2233e18, ConvertPackedValue(biggest, text), 1e14);
    EXPECT_STREQ("-9.22336E18", text);
    EXPECT_EQ('x', text[PACKED_TEXT_SIZE]);
    EXPECT_DOUBLE_EQ(ldexp(0.5, -64), ConvertPackedValue(smallest, text));
    EXPECT_STREQ("2.71051E-20", text);
    EXPECT_EQ(0.0, ConvertPackedValue((const unsigned char *)"\x80\x00\x00\x00", nullptr));
}
