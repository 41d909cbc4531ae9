// The command history and the recall of a clicked echo line, against a plain model: any
// sequence of stores (also of texts taken from the history itself), Up and Down.
#include <string>
#include <vector>

#include "app/console.h"
#include "fuzz_common.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    FuzzedDataProvider in(data, size);
    static CommandHistory h;
    HistoryRelease(&h);
    std::vector<std::string> model;  // oldest first, at most HISTORY_SLOTS
    int ops = 0;
    while (in.remaining_bytes() > 0 && ops++ < 400) {
        std::string out;
        switch (in.ConsumeIntegralInRange<int>(0, 4)) {
        case 0: {
            std::string text = in.ConsumeRandomLengthString(40);
            text = text.substr(0, text.find('\0'));
            HistoryStore(&h, text.c_str());
            if (text.empty()) break;
            model.push_back(text);
            if (model.size() > HISTORY_SLOTS) model.erase(model.begin());
            FUZZ_CHECK(h.cursor == (int)model.size() - 1);
            break;
        }
        case 1: {  // store the text of a slot, as recalling and sending it again does
            int i = in.ConsumeIntegralInRange<int>(0, HISTORY_SLOTS - 1);
            std::string text = h.slots[i];
            HistoryStore(&h, h.slots[i].c_str());
            if (text.empty()) break;
            model.push_back(text);
            if (model.size() > HISTORY_SLOTS) model.erase(model.begin());
            break;
        }
        case 2:
            if (HistoryBack(&h, &out)) FUZZ_CHECK(h.cursor >= 0 && out == model.at(h.cursor));
            else FUZZ_CHECK(model.empty());
            break;
        case 3:
            if (HistoryForward(&h, &out)) FUZZ_CHECK(out == model.at(h.cursor));
            else FUZZ_CHECK(model.empty());
            break;
        case 4: {
            std::string text = in.ConsumeRandomLengthString(600);
            size_t start = in.ConsumeIntegralInRange<size_t>(0, text.size() + 2);
            bool selection = in.ConsumeIntegralInRange<int>(0, 7) == 0;
            bool recalled = RecallClickedLine(text, start, selection, &out);
            if (recalled) {
                FUZZ_CHECK(!selection && text[start] == '>');
                FUZZ_CHECK(!out.empty() && out.size() <= RECALL_MAX);
                FUZZ_CHECK(text.compare(start + 2, out.size(), out) == 0);
                FUZZ_CHECK(out.find('\r') == std::string::npos && out.find('\n') == std::string::npos);
            }
            break;
        }
        }
        for (int i = 0; i < HISTORY_SLOTS; i++) {
            FUZZ_CHECK(h.slots[i] == (i < (int)model.size() ? model[i] : std::string()));
        }
        FUZZ_CHECK(h.cursor >= -1 && h.cursor < HISTORY_SLOTS);
    }
    HistoryRelease(&h);
    return 0;
}
