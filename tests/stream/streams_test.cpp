// The readers, the filters' layouts, and the printer connection against the
// scripted fake printer. tests/cli/stream.sh runs the virtual printer and holds
// the filters against t1ascii and Ghostscript.
#include <gtest/gtest.h>

#include <csignal>
#include <deque>
#include <memory>
#include <thread>

#include <dlfcn.h>
#include <pthread.h>

#include "stream/converters.h"
#include "stream/filereader.h"
#include "stream/memoryreader.h"
#include "stream/tcpipprinter.h"
#include "support/fakeprinter.h"
#include "support/tempdir.h"
#include "support/thrown.h"

using namespace korrin;
using korrin::test::FakePrinter;
using korrin::test::StalledPort;
using Error = BasicDataStream::error;

namespace {
int connectCalls = 0;
std::deque<int> connectErrors; // the errnos the next connects fail with
} // namespace

// Stands in front of the system's connect for the library's calls.
extern "C" int connect(int fd, const sockaddr* address, socklen_t length)
{
    ++connectCalls;
    if (!connectErrors.empty()) {
        errno = connectErrors.front();
        connectErrors.pop_front();
        return -1;
    }
    static auto real = reinterpret_cast<int (*)(int, const sockaddr*, socklen_t)>(dlsym(RTLD_NEXT, "connect"));
    return real(fd, address, length);
}

namespace {

std::string drain(RODataStream& s)
{
    std::string out;
    for (int c; (c = s.read()) != -1;)
        out.push_back(static_cast<char>(c));
    return out;
}

template <class F>
std::string errorOf(F f)
{
    return test::thrownText<Error>(f);
}

template <class Filter>
std::string filter(const std::string& bytes)
{
    MemoryReader m(reinterpret_cast<const unsigned char*>(bytes.data()), static_cast<unsigned>(bytes.size()));
    Filter f(&m);
    return drain(f);
}

std::string pfbSegment(int type, const std::string& body)
{
    std::string s{'\x80', static_cast<char>(type)};
    for (int i = 0; i < 4 && type != 3; ++i)
        s.push_back(static_cast<char>((body.size() >> (8 * i)) & 0xFF));
    return s + body;
}

const std::string header = "%!\n";
const std::string handler = "errordict /handleerror get /.handleerror exch def errordict /handleerror "
                            "{userdict /.handleerror get exec (<-eof->) print flush} put\n";

const PrinterTimeouts quick{300, 300, 300, 300};

std::unique_ptr<TCPIPPrinter> open(bool ctrlD, int port, int attempts = 1)
{
    return std::make_unique<TCPIPPrinter>(ctrlD, "127.0.0.1", port, attempts, quick);
}
std::unique_ptr<TCPIPPrinter> probing(int port, const char* name = "127.0.0.1")
{
    return std::make_unique<TCPIPPrinter>(name, port, 1, quick);
}

void send(TCPIPPrinter& p, const std::string& text)
{
    p.write(reinterpret_cast<const unsigned char*>(text.data()), static_cast<unsigned>(text.size()));
}

// What the fake printer got from n connections, given 3 s to finish them.
std::vector<std::string> receivedFrom(const FakePrinter& fake, std::size_t n)
{
    for (int i = 0; i < 300 && fake.received().size() < n; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    std::this_thread::sleep_for(std::chrono::milliseconds(50)); // for one too many
    return fake.received();
}

// Each printer test starts with no printer probed and must leave no descriptor
// open; the fake printers are gone by then.
class Printer : public ::testing::Test {
    int before_ = test::OpenDescriptors();
    void SetUp() override { TCPIPPrinter::NameCached = ""; }
    void TearDown() override { EXPECT_EQ(test::OpenDescriptors(), before_); }
};

} // namespace

TEST(Readers, ReadUnsignedBytesClampPositionsAndReportTheirErrors)
{
    const unsigned char block[] = {0x00, 0x7F, 0xFF};
    MemoryReader r(block, 3);
    EXPECT_EQ(r.peek(), 0);
    EXPECT_EQ(drain(r), std::string("\0\x7F\xFF", 3));
    EXPECT_EQ(r.peek(), -1);
    EXPECT_EQ(r.setreadposition(-5), 0);
    EXPECT_EQ(r.read(), 0);
    EXPECT_EQ(r.setreadposition(13), 3);
    EXPECT_EQ(r.read(), -1);
    EXPECT_EQ(MemoryReader(block, 0).read(), -1) << "an empty block is fine";
    MemoryReader none;
    EXPECT_EQ(errorOf([&] { none.peek(); }), "5: MemoryReader attempts to read from NULL pointer");
    EXPECT_EQ(errorOf([&] { r.close().read(); }), "5: MemoryReader attempts to read from NULL pointer");

    test::TempDir dir;
    const std::string bytes("\x00\xff\r\nend", 6);
    FileReader f(file(filename(dir.write("f", bytes).c_str()), file::readOnly));
    EXPECT_EQ(f.peek(), 0);
    EXPECT_EQ(drain(f), bytes);
    EXPECT_EQ(f.peek(), -1);
    FileReader a(file(filename(dir.file("f").c_str()), file::readOnly));
    a.read();
    EXPECT_EQ(a.assign(filename(dir.write("b", "B").c_str())).read(), 'B') << "repointed mid-buffer";
    FileReader d(file(filename(dir.path().c_str()), file::readOnly));
    EXPECT_EQ(errorOf([&] { d.read(); }), "4: File error 2: Is a directory");
    FileReader w(file(filename(dir.file("w").c_str()), file::writeOnly));
    EXPECT_EQ(errorOf([&] { w.peek(); }), "4: File error 4: Attempting to read from a write-only file");
}

TEST(BinaryToAscii, TextPassesBinaryBecomesLinesOf64DigitsDamageIsCodeOne)
{
    std::string binary, hex;
    for (int i = 0; i < 20; ++i)
        binary += "\x0f\xa5", hex += "0FA5";
    EXPECT_EQ(filter<BinaryToAscii>(pfbSegment(1, "%!PS\n") + pfbSegment(2, binary) + pfbSegment(3, "")),
              "%!PS\n" + hex.substr(0, 64) + "\n" + hex.substr(64) + "\n");

    const std::string damaged[] = {
        "%!PS-AdobeFont",                     // not a PFB at all
        pfbSegment(7, "abc"),                 // unknown type
        pfbSegment(1, ""),                    // zero length
        std::string("\x80\x01\x05\0\0\0", 6), // nothing after the header
    };
    for (const std::string& pfb : damaged)
        EXPECT_EQ(errorOf([&] { filter<BinaryToAscii>(pfb); }), "1: PFB format error.");
    MemoryReader m(reinterpret_cast<const unsigned char*>("x"), 1);
    EXPECT_EQ(errorOf([&] { BinaryToAscii(&m).peek(); }), "2: peek() is not implemented.");
}

TEST(Ascii85Encoder, GroupsZeroGroupsLinesAndTheEnd)
{
    std::string k12; // 48 bytes of k: 60 characters
    for (int i = 0; i < 12; ++i)
        k12 += "CMR^$";
    const std::pair<std::string, std::string> cases[] = {
        {"", "~>\n"},
        {std::string(4, '\0'), "z~>\n"},
        {std::string(3, '\0'), "!!!!~>\n"}, // a partial group is never z
        {"\xff\xff\xff\xff", "s8W-!~>\n"},
        {"Man is", "9jqo^Bla~>\n"},
        {std::string(51, 'k'), k12 + "CMR\\\n~>\n"}, // the line ends with the last group
        {std::string(56, 'k'), k12 + "CMR^\n$CMR^$~>\n"}, // and inside a group
    };
    for (const auto& [bytes, text] : cases)
        EXPECT_EQ(filter<Ascii85Encoder>(bytes), text) << bytes.size();
}

TEST(LineReader, AnyLineEndLinesAcrossBlocksAndAnUnterminatedLastLine)
{
    test::TempDir dir;
    for (const std::string end : {"\r\n", "\n", "\r"}) {
        // The long line puts the line end's first byte last in the second block.
        const std::string longLine(2 * 4096 - 1 - 6 - 2 * end.size(), 'x');
        file f(filename(dir.write("f", "one" + end + "two" + end + longLine + end + "\xff" "three").c_str()),
               file::readOnly);
        LineReader r(f);
        EXPECT_STREQ(r.readline().c_str(), "one");
        EXPECT_STREQ(r.readline().c_str(), "two");
        EXPECT_EQ(r.readline().length(), longLine.size());
        EXPECT_EQ(r.line(), 4);
        EXPECT_FALSE(r.eof());
        EXPECT_STREQ(r.readline().c_str(), "\xff" "three") << "a CR LF split across blocks is one line end";
        EXPECT_TRUE(r.eof());
        EXPECT_EQ(r.nextchar(), -1);
    }
}

TEST_F(Printer, ReplyEndsAtTheMarkerTheControlDOrTheClose)
{
    using F = FakePrinter;
    struct {
        bool ctrlD;
        std::vector<std::string> blocks;
        F::End end;
        std::string reply;
    } cases[] = {
        // Pass-through: the block that holds the marker is delivered whole.
        {false, {"abc<-eof->"}, F::stall, "abc<-eof->"},
        {false, {"x<-eof->tail"}, F::stall, "x<-eof->tail"},
        {false, {"abc<-e", "of->"}, F::stall, "abc<-eof->"},
        {false, {"<-", "eo", "f->"}, F::stall, "<-eof->"},
        // Another byte before the rest of the marker: the close ends the reply.
        {false, {"abc<-e", "Xof->", "more"}, F::close, "abc<-eXof->more"},
        {false, {"partial <-e"}, F::close, "partial <-e"},
        {true, {std::string("abc\x04" "def")}, F::stall, "abc"},
        {true, {"partial"}, F::close, "partial"},
    };
    for (const auto& c : cases) {
        FakePrinter fake("job\n", c.blocks, c.end);
        auto p = open(c.ctrlD, fake.port());
        send(*p, "job\n");
        EXPECT_EQ(p->peek(), c.reply[0]);
        EXPECT_EQ(drain(*p), c.reply) << c.blocks[0];
        EXPECT_EQ(p->peek(), -1);
        EXPECT_EQ(p->read(), -1);
    }
}

TEST_F(Printer, AResetIsAReadErrorThenAWriteErrorNotASignal)
{
    FakePrinter resetting("job\n", {}, FakePrinter::reset);
    auto p = open(false, resetting.port());
    send(*p, "job\n");
    EXPECT_EQ(errorOf([&] { drain(*p); }), "7: error reading from the printer socket");
    EXPECT_EQ(errorOf([&] { send(*p, "more"); }), "5: error writing to the socket");
}

TEST_F(Printer, WhatTheJobSendsInEachMode)
{
    FakePrinter fake("", {}, FakePrinter::readToEnd);
    {
        auto p = open(false, fake.port());
        send(*p, "job\n");
        p->write('!');
        p->write(nullptr, 0);
        p->writeeof();
        p->writeeof(); // once only
        EXPECT_EQ(errorOf([&] { p->write('x'); }), "6: no data can be written after EOF");
        p->reopen(); // a new connection, header and handler again, writes allowed
        send(*p, "second\n");
    }
    {
        auto p = open(true, fake.port());
        send(*p, "job\n");
        p->writeeof();
    }
    EXPECT_EQ(receivedFrom(fake, 3), (std::vector<std::string>{header + handler + "job\n!(<-eof->) print flush\n",
                                                                header + handler + "second\n",
                                                                header + "job\nflush\n\x04"}));
}

TEST_F(Printer, ProbeAnswerDecidesTheModeAndIsCachedPerName)
{
    // A control-D printer answers the probe with 0x04; a pass-through one
    // runs the name 0x04 and says sane!.
    FakePrinter ctrlDPrinter("\x04", {"\x04"}, FakePrinter::readToEnd);
    FakePrinter passThrough("\x04 flush", {"sane!"}, FakePrinter::readToEnd);
    EXPECT_TRUE(probing(ctrlDPrinter.port())->CtrlDSupported());
    EXPECT_TRUE(probing(ctrlDPrinter.port())->CtrlDSupported());
    auto got = receivedFrom(ctrlDPrinter, 3);
    ASSERT_EQ(got.size(), 3u) << "the probe, then the job's own, then no probe the second time";
    EXPECT_EQ(got[1], header);

    // Another name is another printer: probe again, and replace the cache.
    EXPECT_FALSE(probing(passThrough.port(), "localhost")->CtrlDSupported());
    EXPECT_EQ(receivedFrom(passThrough, 2),
              (std::vector<std::string>{header + "<04> cvn {(sane!) print flush} def\n\x04 flush", header + handler}));
    EXPECT_STREQ(TCPIPPrinter::NameCached.c_str(), "localhost");
    EXPECT_FALSE(TCPIPPrinter::CtrlDCached);
}

TEST_F(Printer, ConnectRetriesAndTheirCodes)
{
    EXPECT_EQ(errorOf([] { TCPIPPrinter p(true, nullptr, 9100, 1); }), "2: invalid printer name");
    FakePrinter fake("", {}, FakePrinter::readToEnd);
    int calls = connectCalls;
    EXPECT_EQ(errorOf([&] { open(true, 1, 5); }), "3: could not connect to the printer"); // refused, 5 connects
    connectErrors = {ECONNREFUSED, ETIMEDOUT};
    open(true, fake.port(), 3); // both retried: 3 connects
    connectErrors = {ENETUNREACH};
    EXPECT_EQ(errorOf([&] { open(true, fake.port(), 5); }), "4: error connecting to the printer"); // not retried
    EXPECT_EQ(connectCalls - calls, 5 + 3 + 1);
}

TEST_F(Printer, EveryWaitEnds)
{
    StalledPort stalled;
    EXPECT_EQ(errorOf([&] { open(true, stalled.port, 2); }), "3: could not connect to the printer");

    FakePrinter stalling("", {}, FakePrinter::stall);
    EXPECT_EQ(errorOf([&] { probing(stalling.port()); }),
              "8: timed out waiting for the printer to answer the control-D probe");
    auto p = open(false, stalling.port());
    EXPECT_EQ(errorOf([&] { p->read(); }), "8: timed out waiting for the printer's reply");
    EXPECT_EQ(errorOf([&] {
                  for (int i = 0; i < 1024; ++i)
                      send(*p, std::string(1 << 20, 'x'));
              }),
              "8: timed out writing to the printer");
}

TEST_F(Printer, ASignalEndsTheReply)
{
    struct sigaction action {}, previous {};
    action.sa_handler = [](int) {}; // no SA_RESTART
    sigaction(SIGUSR1, &action, &previous);
    FakePrinter fake("job\n", {"partial"}, FakePrinter::stall);
    TCPIPPrinter p(true, "127.0.0.1", fake.port(), 1, {300, 300, 20000, 300});
    send(p, "job\n");
    std::atomic<bool> done{false};
    std::thread interrupter([&, reader = pthread_self()] {
        // Every 100 ms until the blocked read has given up.
        do
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        while (!done && pthread_kill(reader, SIGUSR1) == 0);
    });
    EXPECT_EQ(drain(p), "partial");
    done = true;
    interrupter.join();
    sigaction(SIGUSR1, &previous, nullptr);
}
