// Packed values inside reply lines: the 4-byte number and its short text, and the line
// conversion that expands them into a buffer of any capacity.
#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "app/console.h"
#include "fuzz_common.h"
#include "link/link.h"

static void CheckPackedText(const unsigned char bytes[4])
{
    char text[PACKED_TEXT_SIZE + 8];
    memset(text, 'x', sizeof text);
    double value = ConvertPackedValue(bytes, text);
    FUZZ_CHECK(memchr(text, '\0', PACKED_TEXT_SIZE) != nullptr);  // never past its 13 bytes
    FUZZ_CHECK(text[PACKED_TEXT_SIZE] == 'x');
    FUZZ_CHECK(std::isfinite(value));
    FUZZ_CHECK(ConvertPackedValue(bytes, nullptr) == value);
    // The text reads back as the value to its five decimals.
    double back = strtod(text, nullptr);
    FUZZ_CHECK(std::fabs(back - value) <= std::fabs(value) * 1e-5);
    const char *e = strchr(text, 'E');
    FUZZ_CHECK(e != nullptr);
    FUZZ_CHECK(e[1] != '+' && e[1] != '0');
    if (!(bytes[1] & 0x20)) FUZZ_CHECK(value == 0.0);
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size >= 4) CheckPackedText(data);
    FuzzedDataProvider in(data, size);
    ConvertBinary = in.ConsumeBool();
    size_t cap = in.ConsumeIntegralInRange<size_t>(0, 80);
    std::vector<uint8_t> line = in.ConsumeRemainingBytes<uint8_t>();
    line.push_back(0);  // never an empty vector (memcmp below); the last byte is not converted
    line.pop_back();

    std::vector<char> out(cap + 16, '#');
    size_t n = ConvertReplyLine(line.data(), line.size(), out.data(), cap);
    if (cap == 0) {
        FUZZ_CHECK(n == 0 && out[0] == '#');
        return 0;
    }
    FUZZ_CHECK(n < cap);
    FUZZ_CHECK(out[n] == '\0');
    for (size_t i = cap; i < out.size(); i++) FUZZ_CHECK(out[i] == '#');

    // The same line into a buffer that holds everything: the small result is its prefix.
    std::vector<char> full(3 * line.size() + 16);
    size_t fullN = ConvertReplyLine(line.data(), line.size(), full.data(), full.size());
    FUZZ_CHECK(fullN < full.size());
    FUZZ_CHECK(n <= fullN && memcmp(out.data(), full.data(), n) == 0);
    bool anyHigh = false;
    for (uint8_t b : line) anyHigh |= b >= 0x80;
    if (!ConvertBinary || !anyHigh) {
        FUZZ_CHECK(fullN == line.size() && memcmp(full.data(), line.data(), fullN) == 0);
        FUZZ_CHECK(n == (line.size() < cap - 1 ? line.size() : cap - 1));
    }
    return 0;
}
