// A piece of styled text: what the information panel and the upgrade's proposed operation are
// made of. The core says what each piece means; each front end renders the pieces in order
// (the window as rich text, the headless runner as plain text).
#pragma once
#include <string>

struct TextRun {
    int style;         // the producer's style enum (PanelStyle, ProposalStyle)
    std::string text;  // line ends are single LFs
};
