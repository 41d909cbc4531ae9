// sim/sim.h - the simulated instrument: state shared by the modules of its single-threaded
// poll() loop. Everything runs on the one thread; nothing here is locked.
// Deliberately independent of the product's sources: it is the oracle the product is tested against.
#pragma once
#include <cstdint>
#include <cstdio>
#include <deque>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

enum SimTransport { SIM_SERIAL = 0, SIM_LAN = 1, SIM_TRANSPORTS = 2 };

// Limits that keep every buffer bounded.
enum {
    SIM_LINE_MAX = 1024,          // longest command line kept; longer lines are discarded whole
    SIM_PENDING_IN_MAX = 65536,   // paced input waiting for its wire time
    SIM_OUT_MAX = 4 * 1024 * 1024,  // queued output per endpoint; beyond it output is dropped
    SIM_STREAM_HIGH = 4096,       // stream lines are only generated below this much queued output
    SIM_TRANSCRIPT_MAX = 4 * 1024 * 1024,  // in-memory transcript per transport
    SIM_CTL_IN_MAX = 65536,       // unprocessed control input per client
    SIM_MAX_CLIENTS = 16,         // LAN clients and control clients, each
    SIM_SECTORS = 15,             // boot-loader sectors 0..14
    SIM_FLASH_MAX = 8 * 1024 * 1024,  // programmed bytes over all sectors
};

struct SimOutChunk {
    std::string data;
    double notBefore;   // monotonic seconds; replies wait for the configured delay
};

struct SimPendingByte {
    double due;         // wire arrival time under pacing
    uint8_t byte;
};

// One byte stream to a host: the pty master or one accepted TCP client.
struct SimEndpoint {
    SimTransport transport = SIM_SERIAL;
    int fd = -1;
    std::string line;             // partial input line
    bool lineOverflow = false;
    std::deque<SimOutChunk> out;
    size_t outBytes = 0;
    bool writeBlocked = false;    // last write hit EAGAIN: wait for POLLOUT
    double outClock = 0;          // pacing: when the wire is next free, each direction
    double inClock = 0;
    std::deque<SimPendingByte> inPending;
    bool dropRequested = false;   // set while feeding; acted on by the loop afterwards
};

// The settings that "reset" returns to (taken from the command line).
struct SimConfig {
    std::string idn = "Vendrel,RZT7680,12345,1.23";
    std::string calstr = "15_Mar_2020,Vendrel";
    std::string calver = "10_06_2021";
    std::string version = "RZT7680,1234,56,78,90";
    // The replies of meas:volt?, meas:curr?, meas:freq? and meas:pow? (meas:all? gives the
    // four, comma-separated).
    std::string volt = "1.23456", curr = "0.012345", freq = "50.0012", pow = "-0.0125";
    bool eolLf = false;
    int baud[SIM_TRANSPORTS] = {0, 0};
    int delayMs = 0;
    bool udp65535 = false;
    bool udp30718 = false;
    std::string udpPortText = "10001";
    int udpLen = 30;
    std::vector<std::string> udpFrom;  // answer from each of these local addresses instead
};

struct SimBoot {
    bool active = false;
    bool initialised = false;
    int sector = -1;
    uint32_t base = 0;            // from type 02/04 records
    int erases[SIM_SECTORS] = {};
    int records[SIM_SECTORS] = {};
    std::map<uint32_t, uint8_t> flash[SIM_SECTORS];
    size_t flashBytes = 0;
    // Faults
    int refuseInit = 0;
    int refuseSector = -1;
    int badReplies = 0;
    int dropAfter = -1;           // records still to answer before the link is dropped
    int silentAfter = -1;         // records still to answer before the loader goes quiet
    int lateSkip = 0;             // records still to answer at once before the late ones
    int lateCount = 0;            // records then answered lateMs late (later replies wait behind)
    int lateMs = 0;
    int refuseRecord = 0;         // the record (counted from 1) to answer "no"; 0 for none
    bool echo = false;
    bool quiet = false;      // lines that are no boot-loader command get no answer
};

struct SimWait {                  // a control client's pending "wait-rx"
    bool active = false;
    int transport = 0;
    uint64_t bytes = 0;
    double deadline = 0;
};

struct SimCtlClient {
    int fd = -1;
    std::string in;
    std::string out;
    SimWait wait;
    bool closing = false;
};

struct SimStats {
    uint64_t rx[SIM_TRANSPORTS] = {};
    uint64_t tx[SIM_TRANSPORTS] = {};
    uint64_t lines = 0, replies = 0, unknown = 0, longLines = 0, outDropped = 0;
    uint64_t lanAccepts = 0, lanRefused = 0, serialDrops = 0, lanDrops = 0;
    double serialBackToRxMs = -1;  // the last port that came back: from then to the first byte read
    uint64_t udpQueries[2] = {};  // 65535, 30718
    uint64_t bootRecords = 0, bootBad = 0;
};

struct SimState {
    SimConfig base;               // reset returns here
    SimConfig cfg;                // in force now
    std::map<std::string, std::string> programmed;  // lower-case command line -> raw reply
    std::set<std::string> silencedCmds;
    std::map<std::string, int> answerFrom;
    std::map<std::string, int> seen;
    bool silence = false;
    SimBoot boot;

    SimEndpoint serial;
    int slaveFd = -1;
    std::string ptyLink, slaveName;
    double serialBackAt = 0;      // a drop that took the port away: when it comes back (0: not away)
    double serialReopenedAt = 0;  // when it came back, until the product's first byte on it
    std::vector<std::unique_ptr<SimEndpoint>> lan;
    std::string lanHost = "127.0.0.1";
    int lanPort = 10001;
    int lanListenFd = -1;
    bool lanListen = true;
    bool lanSilent = false;

    std::string ctlHost = "127.0.0.1";
    int ctlPort = 10100;
    int ctlListenFd = -1;
    std::vector<std::unique_ptr<SimCtlClient>> ctl;

    int udpFd[2] = {-1, -1};      // 65535, 30718

    std::string transcript[SIM_TRANSPORTS];
    uint64_t rxCount[SIM_TRANSPORTS] = {};
    FILE *transcriptFile = nullptr;

    bool streamOn[SIM_TRANSPORTS] = {};
    double streamInterval[SIM_TRANSPORTS] = {0.001, 0.001};
    double streamNext[SIM_TRANSPORTS] = {};
    uint32_t streamSeq = 0;
    uint32_t rng = 1;
    SimStats stats;
};

// The one simulator state, owned by sim_main.cpp.
extern SimState g_sim;

// --- sim_io.cpp: transports, pacing, transcript ---
double SimNow();                                   // monotonic seconds
int PtyOpen(std::string *err);                     // fresh pty, link re-pointed; 0 or -1
void PtyClose();
void PtyDrop();                                    // close, reopen, re-point the link
void PtyDropFor(double seconds);                   // close and remove the link; back after seconds
void PtyFlush();                                   // discard output the product has not read
int LanListenOpen(std::string *err);               // 0 or -1 (already open: 0)
void LanListenClose();
void LanAccept();
void LanReset(SimEndpoint *ep);                    // RST the client (SO_LINGER 0) and forget it
void LanDropAll();
void LanCloseAll();                                // orderly close (FIN) of every client
int UdpApply(std::string *err);                    // (re)bind the responders cfg asks for; 0 or -1
void UdpHandle(int which);
void EndpointSend(SimEndpoint *ep, const std::string &data, double notBefore);
void EndpointPump(SimEndpoint *ep, double now);
void EndpointRead(SimEndpoint *ep, double now);    // read, pace, process
void EndpointProcessDue(SimEndpoint *ep, double now);
double EndpointNextWake(const SimEndpoint *ep);    // absolute time or a huge value
void EndpointClearIo(SimEndpoint *ep);
void TranscriptClear();
int ListenTcp(const std::string &host, int port, int *boundPort, std::string *err);
int ParseHostPort(const std::string &text, std::string *host, int *port);  // 0 or -1

// --- sim_instr.cpp: the instrument's command interpreter ---
void InstrFeed(SimEndpoint *ep, const uint8_t *data, size_t n);
void InstrReply(SimEndpoint *ep, const std::string &text, bool addEol);
std::string InstrCommandKey(std::string line);     // "^[" removed, trimmed, lower case
std::string InstrEol();
std::string PackedEncode(double value);            // 4 bytes
void StreamTick(double now);
double StreamNextWake();
// A stream "as fast as the reader takes it" with room below the high-water mark on ep: the
// loop must wake as soon as ep's socket can take more, not only on the next other event.
bool StreamWantsRoom(const SimEndpoint *ep);
void InstrResetState();

// --- sim_boot.cpp: boot loader ---
void BootEnter();
void BootLeave();
void BootFeedByte(SimEndpoint *ep, uint8_t b);
std::string BootControl(const std::vector<std::string> &args);
void BootResetAll();

// --- sim_control.cpp: control channel ---
void ControlAccept();
void ControlRead(SimCtlClient *c);
void ControlTick(double now);
double ControlNextWake();

// --- small text helpers (sim_control.cpp) ---
std::string HexEncode(const std::string &bytes);
int HexDecode(const std::string &hex, std::string *out);   // 0 or -1
std::string LowerAscii(std::string s);
std::vector<std::string> SplitWords(const std::string &s);
