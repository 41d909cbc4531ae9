// sim/selftest/sim_selftest.cpp - starts quillon-sim (path in argv[1]) on free ports and a
// temporary pty link, and checks what the product's tests rely on: exact replies and
// transcripts on both transports, reply faults, link drops, pacing and a boot-loader session.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <netinet/in.h>
#include <poll.h>
#include <sstream>
#include <string>
#include <sys/socket.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

static const char *g_simPath = nullptr;
static std::string g_dir;
static pid_t g_pid = -1;
static int g_ctlPort = 0, g_lanPort = 0;
static int g_ctl = -1;
static std::string g_ctlBuf;

static const std::string IDN = "Vendrel,RZT7680,12345,1.23";

static std::string Hex(const std::string &s)
{
    static const char d[] = "0123456789abcdef";
    std::string h;
    for (unsigned char c : s) h += std::string{d[c >> 4], d[c & 15]};
    return h;
}

static long long NowMs()
{
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

// Reads until `want` bytes have arrived or `timeoutMs` has passed without them.
static std::string ReadBytes(int fd, size_t want, int timeoutMs)
{
    std::string got;
    long long end = NowMs() + timeoutMs;
    while (got.size() < want) {
        long long left = end - NowMs();
        if (left <= 0) break;
        pollfd p{fd, POLLIN, 0};
        if (poll(&p, 1, (int)left) <= 0) break;
        char buf[512];
        ssize_t n = read(fd, buf, std::min(sizeof buf, want - got.size()));
        if (n <= 0) break;
        got.append(buf, n);
    }
    return got;
}

// Everything that arrives until the line has been quiet for quietMs.
static std::string ReadQuiet(int fd, int quietMs)
{
    std::string got;
    for (;;) {
        pollfd p{fd, POLLIN, 0};
        if (poll(&p, 1, quietMs) <= 0) return got;
        char buf[512];
        ssize_t n = read(fd, buf, sizeof buf);
        if (n <= 0) return got;
        got.append(buf, n);
    }
}

static std::string Ctl(const std::string &cmd)
{
    std::string line = cmd + "\n";
    EXPECT_EQ((ssize_t)line.size(), write(g_ctl, line.data(), line.size()));
    long long end = NowMs() + 3000;
    size_t nl;
    while ((nl = g_ctlBuf.find('\n')) == std::string::npos) {
        pollfd p{g_ctl, POLLIN, 0};
        long long left = end - NowMs();
        char buf[4096];
        ssize_t n = left > 0 && poll(&p, 1, (int)left) > 0 ? read(g_ctl, buf, sizeof buf) : -1;
        if (n <= 0) return "<no control reply>";
        g_ctlBuf.append(buf, n);
    }
    std::string reply = g_ctlBuf.substr(0, nl);
    g_ctlBuf.erase(0, nl + 1);
    return reply;
}

static int Connect(int port)
{
    int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_port = htons((uint16_t)port);
    sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (connect(fd, (sockaddr *)&sa, sizeof sa) < 0) {
        close(fd);
        return -1;
    }
    return fd;
}

static int OpenPty()
{
    int fd = open((g_dir + "/tty").c_str(), O_RDWR | O_NOCTTY);
    if (fd < 0) return -1;
    termios tio;
    tcgetattr(fd, &tio);
    cfmakeraw(&tio);
    tcsetattr(fd, TCSANOW, &tio);
    return fd;
}

static void Send(int fd, const std::string &s)
{
    ASSERT_EQ((ssize_t)s.size(), write(fd, s.data(), s.size()));
}

class SimEnv : public ::testing::Environment {
public:
    void SetUp() override
    {
        char tmpl[] = "/tmp/quillon-sim-test.XXXXXX";
        ASSERT_NE(nullptr, mkdtemp(tmpl));
        g_dir = tmpl;
        std::string ready = g_dir + "/ready";
        g_pid = fork();
        if (g_pid == 0) {
            std::string link = g_dir + "/tty", tr = g_dir + "/transcript.log";
            execl(g_simPath, g_simPath, "--pty-link", link.c_str(), "--control", "127.0.0.1:0",
                  "--lan", "127.0.0.1:0", "--transcript", tr.c_str(), "--ready-file",
                  ready.c_str(), (char *)nullptr);
            _exit(127);
        }
        for (int i = 0; i < 300 && access(ready.c_str(), F_OK) != 0; i++) usleep(10000);
        std::ifstream f(ready);
        ASSERT_TRUE(f) << "simulator did not start";
        std::string kv;
        while (f >> kv) {
            if (kv.rfind("control=", 0) == 0) g_ctlPort = atoi(kv.c_str() + kv.rfind(':') + 1);
            if (kv.rfind("lan=", 0) == 0) g_lanPort = atoi(kv.c_str() + kv.rfind(':') + 1);
        }
        g_ctl = Connect(g_ctlPort);
        ASSERT_GE(g_ctl, 0);
    }
    void TearDown() override
    {
        if (g_ctl >= 0) close(g_ctl);
        if (g_pid > 0) {
            kill(g_pid, SIGTERM);
            int st = 0;
            waitpid(g_pid, &st, 0);
            EXPECT_TRUE(WIFEXITED(st) && WEXITSTATUS(st) == 0) << "status " << st;
            EXPECT_NE(0, access((g_dir + "/tty").c_str(), F_OK)) << "pty link left behind";
        }
        std::string cmd = "rm -rf '" + g_dir + "'";
        if (system(cmd.c_str())) {}
    }
};

class Sim : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_EQ("ok", Ctl("reset")); }
};

TEST_F(Sim, IdnOverPtyWithExactTranscript)
{
    int fd = OpenPty();
    ASSERT_GE(fd, 0);
    // The connect sequence: DC4 from the open, DC4 and "^[" without terminator, then the query.
    std::string sent = std::string("\x14") + "\x14^[" + "*IDN?\n";
    Send(fd, sent);
    EXPECT_EQ(IDN + "\r\n", ReadBytes(fd, IDN.size() + 2, 1000));
    EXPECT_EQ("ok " + Hex(sent), Ctl("transcript serial"));
    EXPECT_EQ("ok", Ctl("transcript lan"));

    ASSERT_EQ("ok", Ctl("set eol lf"));
    Send(fd, "*IDN?\n");
    EXPECT_EQ(IDN + "\n", ReadQuiet(fd, 100));

    // A reply left unread must not survive a reset into the next test.
    ASSERT_EQ("ok", Ctl("transcript clear"));
    Send(fd, "*IDN?\n");
    ASSERT_EQ("ok 6", Ctl("wait-rx serial 6 1000"));
    ASSERT_EQ("ok", Ctl("reset"));
    EXPECT_EQ("", ReadQuiet(fd, 50));
    close(fd);
}

TEST_F(Sim, IdnOverLanRecordsButIgnoresTheNul)
{
    int fd = Connect(g_lanPort);
    ASSERT_GE(fd, 0);
    std::string sent = std::string("*IDN?\n", 6) + '\0' + std::string("calver?\n", 8) + '\0';
    Send(fd, sent);
    EXPECT_EQ(IDN + "\r\n10_06_2021\r\n", ReadBytes(fd, IDN.size() + 14, 1000));
    EXPECT_EQ("ok " + Hex(sent), Ctl("transcript lan"));
    close(fd);
}

// Each input is followed by "*OPC?" (reply "1"), so a missing reply shows as just "1".
TEST_F(Sim, CommandLinesTable)
{
    static const struct { const char *in; std::string reply; } cases[] = {
        {"*idn?\n", IDN + "\r\n"},
        {"\x1b*IDN?\r\n", IDN + "\r\n"},
        {"*ID\x14N?\n", IDN + "\r\n"},
        {"  Version? \n", "RZT7680,1234,56,78,90\r\n"},
        {"calstr?\n", "15_Mar_2020,Vendrel\r\n"},
        {"^[meas:volt?\n", "1.23456\r\n"},
        {"packed?\n", std::string("\x88\x25\x40\x00\r\n", 6)},
        {"packed3?\n", std::string("V=\x81\x30\x00\x00,I=\xF7\x60\x62\x27\r\n", 15)},
        {"packedzero?\n", std::string("\x80\x00\x00\x00\r\n", 6)},
        {"packedneg?\n", std::string("\x8B\x70\x00\x00\r\n", 6)},
        {"packedsmall?\n", std::string("\xDF\x36\x7C\x70\r\n", 6)},
        {"bogus?\n", ""},
        {"\n\r\n", ""},
    };
    int fd = Connect(g_lanPort);
    ASSERT_GE(fd, 0);
    for (const auto &c : cases) {
        std::string in = std::string(c.in) + "*OPC?\n";
        Send(fd, in);
        std::string want = c.reply + "1\r\n";
        EXPECT_EQ(Hex(want), Hex(ReadBytes(fd, want.size(), 1000))) << "input " << Hex(in);
    }
    close(fd);
}

TEST_F(Sim, ReplyFaults)
{
    int fd = Connect(g_lanPort);
    ASSERT_GE(fd, 0);
    ASSERT_EQ("ok", Ctl("answer-from *IDN? 3"));
    ASSERT_EQ("ok", Ctl("silence-cmd calstr?"));
    ASSERT_EQ("ok", Ctl("reply " + Hex("meas:volt?") + " " + Hex("ABC")));
    ASSERT_EQ("ok", Ctl("reply " + Hex("version?")));
    static const struct { const char *in; std::string reply; } steps[] = {
        {"*IDN?\n", ""}, {"*IDN?\n", ""}, {"*IDN?\n", IDN + "\r\n"}, {"*IDN?\n", IDN + "\r\n"},
        {"calstr?\n", ""}, {"MEAS:VOLT?\n", "ABC"}, {"version?\n", ""},
    };
    for (const auto &s : steps) {
        Send(fd, std::string(s.in) + "*OPC?\n");
        std::string want = s.reply + "1\r\n";
        EXPECT_EQ(want, ReadBytes(fd, want.size(), 1000)) << "input " << s.in;
    }
    ASSERT_EQ("ok", Ctl("silence on"));
    Send(fd, "*OPC?\n");
    EXPECT_EQ("", ReadQuiet(fd, 100));
    close(fd);
}

TEST_F(Sim, WaitRxDelayAndPacing)
{
    int fd = OpenPty();
    ASSERT_GE(fd, 0);
    EXPECT_EQ("err timeout 0", Ctl("wait-rx serial 1 50"));
    Send(fd, "12345");
    long long t0 = NowMs();
    EXPECT_EQ("ok 5", Ctl("wait-rx serial 5 1000"));
    EXPECT_LT(NowMs() - t0, 500) << "a wait already met must end at once";

    ASSERT_EQ("ok", Ctl("delay 150"));
    t0 = NowMs();
    Send(fd, "\n*OPC?\n");
    EXPECT_EQ("1\r\n", ReadBytes(fd, 3, 1000));
    EXPECT_GE(NowMs() - t0, 140);

    // 2400 baud, 10 bits a byte: 6 bytes in and 28 out take about 140 ms of wire time.
    ASSERT_EQ("ok", Ctl("delay 0"));
    ASSERT_EQ("ok", Ctl("baud 2400"));
    t0 = NowMs();
    Send(fd, "*IDN?\n");
    EXPECT_EQ(IDN + "\r\n", ReadBytes(fd, IDN.size() + 2, 2000));
    long long took = NowMs() - t0;
    EXPECT_GE(took, 125);
    EXPECT_LT(took, 1000);
    close(fd);
}

TEST_F(Sim, DropSerialFailsTheOldSideAndRelinks)
{
    int fd = OpenPty();
    ASSERT_GE(fd, 0);
    std::string before = Ctl("pty");
    ASSERT_EQ("ok", Ctl("drop serial"));
    char b;
    EXPECT_LE(read(fd, &b, 1), 0);
    EXPECT_LT(write(fd, "*IDN?\n", 6), 0);
    close(fd);
    EXPECT_NE(before, Ctl("pty"));
    fd = OpenPty();
    ASSERT_GE(fd, 0);
    Send(fd, "*IDN?\n");
    EXPECT_EQ(IDN + "\r\n", ReadBytes(fd, IDN.size() + 2, 1000));
    close(fd);
}

TEST_F(Sim, LanDropAndListenOff)
{
    int fd = Connect(g_lanPort);
    ASSERT_GE(fd, 0);
    ASSERT_EQ("ok", Ctl("drop lan"));
    char b;
    EXPECT_LE(recv(fd, &b, 1, 0), 0);
    close(fd);
    ASSERT_EQ("ok", Ctl("lan listen off"));
    EXPECT_LT(Connect(g_lanPort), 0);
    ASSERT_EQ("ok", Ctl("lan listen on"));
    fd = Connect(g_lanPort);
    ASSERT_GE(fd, 0);
    close(fd);
}

static const char REC1[] = ":10010000214601360121470136007EFE09D2190140";
static const char REC2[] = ":100110002146017E17C20001FF5F16002148011928";

TEST_F(Sim, BootLoaderSession)
{
    int fd = OpenPty();
    ASSERT_GE(fd, 0);
    std::string hexPath = g_dir + "/two.hex";
    std::ofstream(hexPath) << REC1 << "\n" << REC2 << "\n:00000001FF\n";
    static const struct { std::string in, reply; } steps[] = {
        {"\x19", ""},
        {"C7D2z\n", "ok\r\n"},
        {"7C2Dy\n", "ok\r\n"},                         // sector 2
        {"x", "ok\r\n"},
        {std::string(REC1) + "\n\r\n", "ok\r\n"},
        {std::string(REC2) + "\n\r\n", "ok\r\n"},
        {":10010000214601360121470136007EFE09D2190141\n\r\n", "err\r\n"},  // checksum
        {":0201000021\n\r\n", "err\r\n"},             // count says 2, carries 1
        {"*IDN?\n", "err\r\n"},
    };
    for (const auto &s : steps) {
        Send(fd, s.in);
        EXPECT_EQ(s.reply, ReadQuiet(fd, 60)) << "input " << Hex(s.in);
    }
    EXPECT_EQ("ok 32", Ctl("boot flash-verify 2 " + hexPath));
    EXPECT_EQ("err missing 0x00000100 expected 21", Ctl("boot flash-verify 1 " + hexPath));
    std::string state = Ctl("boot state");
    EXPECT_NE(std::string::npos, state.find("mode=boot init=1 sector=2 erases=0,0,1,0")) << state;
    EXPECT_NE(std::string::npos, state.find("records=0,0,2,0")) << state;
    // The product's restart: "z", then 0x15 on its own, which lands in normal mode.
    Send(fd, "z\n");
    Send(fd, "\x15");
    Send(fd, "*IDN?\n");
    EXPECT_EQ(IDN + "\r\n", ReadBytes(fd, IDN.size() + 2, 1000));
    close(fd);
}

TEST_F(Sim, BootLoaderFaults)
{
    int fd = Connect(g_lanPort);
    ASSERT_GE(fd, 0);
    ASSERT_EQ("ok", Ctl("boot refuse-init 1"));
    ASSERT_EQ("ok", Ctl("boot refuse-sector 3"));
    ASSERT_EQ("ok", Ctl("boot bad-replies 1"));
    ASSERT_EQ("ok", Ctl("boot drop-after 2"));
    std::string rec1 = std::string(REC1) + "\n\r\n";
    static const struct { std::string in, reply; } steps[] = {
        {std::string("\x19", 1), ""},
        {std::string("C7D2z\n\0", 7), "no\r\n"},
        {std::string("C7D2z\n\0", 7), "ok\r\n"},
        {"D2C7y\n", "err\r\n"},                        // sector 3 refused
        {"C72Dy\n", "ok\r\n"},                         // sector 0
        {rec1, "no\r\n"},                              // bad reply, not stored
        {"echo", ""},
        {rec1, std::string(REC1) + "ok\r\n"},          // echoed
    };
    for (const auto &s : steps) {
        if (s.in == "echo") {
            ASSERT_EQ("ok", Ctl("boot echo on"));
            continue;
        }
        Send(fd, s.in);
        EXPECT_EQ(s.reply, ReadQuiet(fd, 60)) << "input " << Hex(s.in);
    }
    std::string state = Ctl("boot state");
    EXPECT_NE(std::string::npos, state.find("records=1,0,")) << state;
    // Two records have been answered: the third finds the connection reset.
    Send(fd, rec1);
    char b;
    EXPECT_LE(recv(fd, &b, 1, 0), 0);
    close(fd);
}

TEST_F(Sim, BootLoaderGoesQuietButStillRestarts)
{
    int fd = Connect(g_lanPort);
    ASSERT_GE(fd, 0);
    ASSERT_EQ("ok", Ctl("boot silent-after 1"));
    std::string rec1 = std::string(REC1) + "\n\r\n";
    static const struct { std::string in, reply; } steps[] = {
        {"\x19", ""},
        {"C72Dy\n", "ok\r\n"},
        {rec1, "ok\r\n"},
        {rec1, ""},
        {"x", ""},
        {"C7D2z\n", ""},
        {"z\n*IDN?\n", IDN + "\r\n"},
    };
    for (const auto &s : steps) {
        Send(fd, s.in);
        EXPECT_EQ(s.reply, ReadQuiet(fd, 60)) << "input " << Hex(s.in);
    }
    close(fd);
}

int main(int argc, char **argv)
{
    ::testing::InitGoogleTest(&argc, argv);
    if (argc < 2) {
        fprintf(stderr, "usage: %s PATH-TO-quillon-sim\n", argv[0]);
        return 2;
    }
    g_simPath = argv[1];
    signal(SIGPIPE, SIG_IGN);
    ::testing::AddGlobalTestEnvironment(new SimEnv);
    return RUN_ALL_TESTS();
}
