// Instrument identification: the model codes and the table that reads the model field of
// an "*IDN?" reply. Portable; the connect sequence and the information panel use it.
#pragma once
#include <string>

// ModelCode values. Several models share a code (the comments name them); 8 and 14 are unused.
enum ModelCode {
    MODEL_UNKNOWN = 0,
    MODEL_RZT76 = 1,
    MODEL_RZT46 = 2,
    MODEL_RZT49 = 3,   // also the HCX interface
    MODEL_RZT26 = 4,
    MODEL_RZT66 = 5,   // also JKE20
    MODEL_RZT6 = 6,    // RZT6 models no longer pattern names
    MODEL_QVN73 = 7,   // also QVN44
    MODEL_QVN83 = 9,
    MODEL_WDLX26 = 10,
    MODEL_WDLX60 = 11,
    MODEL_HGB = 12,    // also every model field beginning "PCA" (PCAN-RS232 adapter)
    MODEL_VDA04 = 13,  // also VDA08, VDA09
    MODEL_VDA71 = 15,  // also VDA80, VDA93
    MODEL_RZT86 = 16,
};

// ModelCode of the model field at afterComma (the reply text after its first comma).
// Each pattern is compared over exactly its own length, case-sensitive, without skipping
// blanks; the first matching row wins. 0 (MODEL_UNKNOWN) for no match or a null text.
int ClassifyModel(const char *afterComma);

// True for the models that keep a local calibration date (codes 1, 4, 5 and 16); only these
// show that date and the calibration age warning.
bool IsLocalCalibrationModel(int modelCode);

// Who an instrument is, from its identification reply: the second and third fields of
// "Vendrel,RZT7680,12345,1.23", blanks around each left out; empty when the reply has none.
struct InstrumentIdentity {
    std::string model, serialNumber;
};
InstrumentIdentity ReadInstrumentIdentity(const std::string &idn);
// The same instrument: both replies give a serial number, and model and serial number agree.
// Replies without a serial number tell nothing about who answered, and count as others.
bool SameInstrument(const InstrumentIdentity &a, const InstrumentIdentity &b);
