// Reply line assembly: bytes from the instrument, delivered over several polls, become
// results-window lines. The appended text must be exactly the completed lines, each cut at
// the reply line buffer and converted within the converted line buffer, whatever arrives.
#include <cstring>
#include <string>
#include <vector>

#include "app/console.h"
#include "fakelink.h"
#include "fakeui.h"
#include "fuzz_common.h"

static std::string s_appended;
static int s_appends;

static void FuzzAppend(const char *text)
{
    s_appended += text;
    s_appends++;
}

// What the poll must show for raw: lines end at CR, LF or NUL, and a line that fills the
// buffer is finished there and then; empty lines show nothing.
static std::string ExpectedText(const std::string &raw, int64_t *chars)
{
    static char converted[REPLY_LINE_SIZE];
    std::string text, line;
    *chars = 0;
    auto finish = [&] {
        if (!line.empty()) {
            size_t n = ConvertReplyLine((const unsigned char *)line.data(), line.size(), converted,
                                        sizeof converted);
            text.append(converted, n);
            text += "\r\n";
        }
        *chars += (int64_t)line.size();
        line.clear();
    };
    for (char c : raw) {
        if (c == '\n' || c == '\r' || c == '\0') {
            finish();
            continue;
        }
        line += c;
        if (line.size() >= REPLY_LINE_SIZE - 1) finish();
    }
    return text;  // an unfinished line stays behind
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    FuzzedDataProvider in(data, size);
    uint8_t flags = in.ConsumeIntegral<uint8_t>();
    ConvertBinary = flags & 1;
    int pieces = 1 + ((flags >> 1) & 7);
    bool readError = flags & 0x10;
    std::string raw = in.ConsumeRemainingBytesAsString();
    if ((flags & 0xE0) == 0xE0) {
        // Long lines need more bytes than a fuzz input usually has: plain text fills the line
        // to just short of the reply line buffer, so the input decides what meets its end.
        raw = std::string(REPLY_LINE_SIZE - 48, 'x') + raw;
    }

    FakeLinkReset();
    FakeUiReset();
    ReplyPollReset();
    g_ui.linksLost = 0;
    ReceivedCharCount = 0;
    s_appended.clear();
    s_appends = 0;

    size_t pos = 0;
    int bytesRead = 0;
    for (int p = 0; p < pieces; p++) {
        size_t take = p + 1 == pieces ? raw.size() - pos : (raw.size() - pos) / 2;
        // The stand-in link hands out bytes from the front of a string: keep what one poll
        // sees short, or long inputs cost quadratic time.
        for (size_t done = 0; done < take || (done == 0 && take == 0);) {
            size_t chunk = take - done < 96 ? take - done : 96;
            g_fake.input = raw.substr(pos + done, chunk);
            done += chunk;
            g_fake.readError = readError && p + 1 == pieces && done == take;
            int appendsBefore = s_appends;
            bytesRead += ReplyPollTo(FuzzAppend);
            FUZZ_CHECK(g_fake.input.empty());
            FUZZ_CHECK(s_appends - appendsBefore <= 1);  // one append per poll
            if (take == 0) break;
        }
        pos += take;
    }
    FUZZ_CHECK(bytesRead == (int)raw.size());

    int64_t chars;
    std::string expected = ExpectedText(raw, &chars);
    FUZZ_CHECK(s_appended == expected);
    FUZZ_CHECK(ReceivedCharCount == (chars > INT32_MAX ? INT32_MAX : chars));
    FUZZ_CHECK((g_ui.linksLost == 1) == readError);
    ReplyPollReset();
    return 0;
}
