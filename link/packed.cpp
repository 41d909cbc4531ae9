// Packed binary numbers in instrument replies: 4 bytes, a 20-bit mantissa and a 7-bit
// exponent, and their short scientific text form.
#include "link/link.h"

#include "common/textutil.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

double ConvertPackedValue(const unsigned char bytes[4], char *text)
{
    double value = 0.0;
    if (bytes[1] & 0x20) {  // mantissa bit 19 is set for every non-zero value
        int exponent = bytes[0] & 0x3F;
        if (bytes[0] & 0x40) exponent -= 64;
        long mantissa = ((long)(bytes[1] & 0x3F) << 14) | ((long)(bytes[2] & 0x7F) << 7) | (bytes[3] & 0x7F);
        value = ldexp((double)mantissa, exponent - 20);
        if (bytes[1] & 0x40) value = -value;
    }
    if (text) {
        // "%.5E", then drop the exponent's "+" and up to two leading zeros of its digits.
        // Built from the exponent's value so the result does not depend on how many
        // exponent digits the C runtime prints.
        char buf[32];
        snprintf(buf, sizeof buf, "%.5E", value);
        char *e = strchr(buf, 'E');
        int exp10 = e ? atoi(e + 1) : 0;
        if (e) *e = '\0';
        // The mantissa is at most 8 characters and the exponent 3, so the form always fits
        // the 13-byte text; it is cut there all the same.
        char form[48];
        if (exp10 == 0)
            snprintf(form, sizeof form, "%sE", buf);
        else
            snprintf(form, sizeof form, "%sE%d", buf, exp10);
        TextCopy(text, PACKED_TEXT_SIZE, form);
    }
    return value;
}
