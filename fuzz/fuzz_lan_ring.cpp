// The LAN receive ring against a plain queue: any sequence of stores (any sizes, also more
// than the room) and takes. Unread bytes are never overwritten, nothing is invented, and the
// indexes stay inside the 8192 bytes.
#include <deque>
#include <vector>

#include "fuzz_common.h"
#include "link/link.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    FuzzedDataProvider in(data, size);
    static ConnectionRecord rec;
    InitConnectionRecord(&rec);
    std::deque<unsigned char> model;
    std::vector<unsigned char> chunk(3 * LAN_RING_SIZE);
    for (int ops = 0; ops < 32 && in.remaining_bytes() > 0; ops++) {
        uint8_t op = in.ConsumeIntegral<uint8_t>();
        if (op & 1) {
            // Sizes cluster round the ring's length, where the wrap and the refusal happen.
            int n = (op & 2) ? in.ConsumeIntegralInRange<int>(-4, 300)
                             : in.ConsumeIntegralInRange<int>(LAN_RING_SIZE - 300, 2 * LAN_RING_SIZE);
            unsigned char fill = in.ConsumeIntegral<uint8_t>();
            for (int i = 0; i < n && i < (int)chunk.size(); i++) chunk[i] = (unsigned char)(fill + i);
            int room = RingRoom(&rec);
            int stored = RingPut(&rec, chunk.data(), n);
            FUZZ_CHECK(stored == (n < 0 ? 0 : n < room ? n : room));
            for (int i = 0; i < stored; i++) model.push_back(chunk[i]);
        } else {
            int takes = in.ConsumeIntegralInRange<int>(0, 2 * LAN_RING_SIZE);
            for (int i = 0; i < takes; i++) {
                int byte = RingTake(&rec);
                if (model.empty()) {
                    FUZZ_CHECK(byte == -2);
                    break;
                }
                FUZZ_CHECK(byte == model.front());
                model.pop_front();
            }
        }
        FUZZ_CHECK(rec.rxCount == (int32_t)model.size());
        FUZZ_CHECK(rec.rxCount >= 0 && rec.rxCount <= LAN_RING_SIZE);
        FUZZ_CHECK(rec.rxWrite >= 0 && rec.rxWrite < LAN_RING_SIZE);
        FUZZ_CHECK(rec.rxRead >= 0 && rec.rxRead < LAN_RING_SIZE);
        FUZZ_CHECK(RingRoom(&rec) == LAN_RING_SIZE - rec.rxCount);
    }
    return 0;
}
