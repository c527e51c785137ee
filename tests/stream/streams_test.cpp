// The stream classes: the byte contract every reader keeps, the filters'
// layouts, and the printer connection against the scripted fake printer (both
// control-D modes, the end marker split across blocks, the probe and its
// cache, connect retries, every time limit, signals, early closes,
// descriptors). The CLI tests hold the filters against independent judges
// (t1ascii, Ghostscript) and run the virtual printer; the fuzz target holds
// ASCII85 against a decoder of its own.
#include <gtest/gtest.h>

#include <atomic>
#include <csignal>
#include <cstdio>
#include <deque>
#include <memory>
#include <mutex>
#include <thread>

#include <dlfcn.h>
#include <pthread.h>
#include <sys/socket.h>

#include "stream/converters.h"
#include "stream/filereader.h"
#include "stream/memoryreader.h"
#include "stream/tcpipprinter.h"
#include "support/fakeprinter.h"
#include "support/tempdir.h"
#include "support/thrown.h"

using namespace korrin;
using korrin::test::DeadPort;
using korrin::test::FakePrinter;
using Error = BasicDataStream::error;

// The library calls the system's connect; this definition in the test
// program stands in front of it, counts the calls, and fails them with the
// errnos a test injects.
namespace {
std::atomic<int> connectCalls{0};
std::mutex injectedMutex;
std::deque<int> injectedErrors;
void injectConnectErrors(std::initializer_list<int> errors)
{
    std::lock_guard<std::mutex> lock(injectedMutex);
    injectedErrors.assign(errors);
}
} // namespace

extern "C" int connect(int fd, const sockaddr* address, socklen_t length)
{
    ++connectCalls;
    {
        std::lock_guard<std::mutex> lock(injectedMutex);
        if (!injectedErrors.empty()) {
            errno = injectedErrors.front();
            injectedErrors.pop_front();
            return -1;
        }
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

// The filter's whole output for these bytes.
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

PrinterTimeouts quick()
{
    PrinterTimeouts t;
    t.connect = t.probe = t.reply = t.write = 300;
    return t;
}

// A connection in the given mode, or probing for it.
std::unique_ptr<TCPIPPrinter> open(bool ctrlD, int port, int attempts = 1, const char* name = "127.0.0.1")
{
    return std::make_unique<TCPIPPrinter>(ctrlD, name, port, attempts, quick());
}
std::unique_ptr<TCPIPPrinter> probing(int port, const char* name = "127.0.0.1")
{
    return std::make_unique<TCPIPPrinter>(name, port, 1, quick());
}

void send(TCPIPPrinter& p, const std::string& text)
{
    p.write(reinterpret_cast<const unsigned char*>(text.data()), static_cast<unsigned>(text.size()));
}

// The fake printer works on its own thread; give it up to 3 s to catch up.
template <class Done>
void waitUntil(Done done)
{
    for (int i = 0; i < 300 && !done(); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
}

void forgetProbes()
{
    std::lock_guard<std::mutex> lock(TCPIPPrinter::CtrlDMutex);
    TCPIPPrinter::NameCached = "";
    TCPIPPrinter::CtrlDCached = false;
}

// The connects f makes, then ": " and the error it throws, if any.
template <class F>
std::string connecting(F f)
{
    int before = connectCalls;
    std::string error;
    try {
        f();
    } catch (const Error& e) {
        error = ": " + std::to_string(e.code) + ": " + e.message.c_str();
    }
    return std::to_string(connectCalls - before) + error;
}

} // namespace

TEST(MemoryReader, ReadsUnsignedBytesClampsPositionsAndNeedsABlock)
{
    const unsigned char block[] = {0x00, 0x7F, 0xFF};
    MemoryReader r(block, 3);
    EXPECT_EQ(r.peek(), 0);
    EXPECT_EQ(drain(r), std::string("\0\x7F\xFF", 3));
    EXPECT_EQ(r.peek(), -1);
    EXPECT_EQ(r.read(), -1) << "ended for good";
    EXPECT_EQ(r.setreadposition(-5), 0);
    EXPECT_EQ(r.read(), 0);
    EXPECT_EQ(r.setreadposition(13), 3);
    EXPECT_EQ(r.read(), -1);

    EXPECT_EQ(MemoryReader(block, 0).read(), -1) << "an empty block is fine";
    MemoryReader none;
    EXPECT_EQ(errorOf([&] { none.read(); }), "5: MemoryReader attempts to read from NULL pointer");
    EXPECT_EQ(errorOf([&] { none.peek(); }), "5: MemoryReader attempts to read from NULL pointer");
    EXPECT_EQ(errorOf([&] { r.close().read(); }).substr(0, 2), "5:");
}

TEST(FileReader, ReadsAFileRepointsAndReportsFileErrorsAsCodeFour)
{
    test::TempDir dir;
    const std::string bytes("\x00\xff\r\nend", 6);
    FileReader r(file(filename(dir.write("f", bytes).c_str()), file::readOnly));
    EXPECT_EQ(r.peek(), 0);
    EXPECT_EQ(drain(r), bytes);
    EXPECT_EQ(r.peek(), -1);

    FileReader a(file(filename(dir.file("f").c_str()), file::readOnly));
    EXPECT_EQ(a.read(), 0);
    EXPECT_EQ(a.assign(filename(dir.write("b", "B").c_str())).read(), 'B') << "repointed mid-buffer";
    EXPECT_EQ(a.assign(r).read(), 0) << "another reader's file, from its start";
    EXPECT_FALSE(a.close().isopen());

    // A directory opens but cannot be read.
    FileReader d(file(filename(dir.path().c_str()), file::readOnly));
    EXPECT_EQ(errorOf([&] { d.read(); }), "4: File error 2: Is a directory");
    FileReader w(file(filename(dir.file("w").c_str()), file::writeOnly));
    EXPECT_EQ(errorOf([&] { w.peek(); }), "4: File error 4: Attempting to read from a write-only file");
}

TEST(BinaryToAscii, TextPassesAndBinaryBecomesLinesOf64Digits)
{
    std::string binary, hex;
    for (int i = 0; i < 40; ++i) {
        binary.push_back(static_cast<char>(i * 7 + 0xA0));
        char d[3];
        std::snprintf(d, sizeof d, "%02X", static_cast<unsigned char>(binary.back()));
        hex += d;
    }
    EXPECT_EQ(filter<BinaryToAscii>(pfbSegment(1, "%!PS\n") + pfbSegment(2, binary) + pfbSegment(3, "")),
              "%!PS\n" + hex.substr(0, 64) + "\n" + hex.substr(64) + "\n");
}

TEST(BinaryToAscii, DamageIsCodeOneAndPeekIsCodeTwo)
{
    // A binary segment cut short shows its missing bytes as FF, then the
    // next header fails.
    std::string cut = pfbSegment(2, "\x01\x02").substr(0, 7);
    cut[2] = 3;
    const std::string damaged[] = {
        "%!PS-AdobeFont",                  // not a PFB at all
        pfbSegment(7, "abc"),              // unknown type
        pfbSegment(1, ""),                 // zero length
        std::string("\x80\x01\x05\0\0\0", 6), // nothing after the header
        cut,
    };
    for (const std::string& pfb : damaged)
        EXPECT_EQ(errorOf([&] { filter<BinaryToAscii>(pfb); }), "1: PFB format error.");

    MemoryReader m(reinterpret_cast<const unsigned char*>("x"), 1);
    BinaryToAscii f(&m);
    EXPECT_EQ(errorOf([&] { f.peek(); }), "2: peek() is not implemented.");
}

TEST(Ascii85Encoder, GroupsZeroGroupsAndTheEnd)
{
    EXPECT_EQ(filter<Ascii85Encoder>(""), "~>\n");
    EXPECT_EQ(filter<Ascii85Encoder>(std::string(4, '\0')), "z~>\n");
    EXPECT_EQ(filter<Ascii85Encoder>(std::string(3, '\0')), "!!!!~>\n") << "a partial zero group is not z";
    EXPECT_EQ(filter<Ascii85Encoder>("A"), "5l~>\n");
    EXPECT_EQ(filter<Ascii85Encoder>("\xff\xff\xff\xff"), "s8W-!~>\n");

    const std::string manIs = "Man is";
    MemoryReader m(reinterpret_cast<const unsigned char*>(manIs.data()), 6);
    Ascii85Encoder e(&m);
    EXPECT_EQ(e.peek(), '9');
    EXPECT_EQ(e.peek(), '9') << "a peek keeps the group for the next read";
    EXPECT_EQ(drain(e), "9jqo^Bla~>\n");
    EXPECT_EQ(e.peek(), -1);
}

TEST(Ascii85Encoder, LinesHold64Characters)
{
    const std::string k(56, 'k'); // no zero groups; 4 bytes make 5 characters
    std::string out = filter<Ascii85Encoder>(k.substr(0, 48));
    EXPECT_EQ(out.size(), 60u + 3);
    EXPECT_EQ(out.substr(60), "~>\n");
    out = filter<Ascii85Encoder>(k.substr(0, 51));
    EXPECT_EQ(out.size(), 64u + 1 + 3);
    EXPECT_EQ(out.substr(64), "\n~>\n");
    out = filter<Ascii85Encoder>(k);
    ASSERT_EQ(out.size(), 64u + 1 + 6 + 3);
    EXPECT_EQ(out[64], '\n');
    EXPECT_EQ(out.substr(71), "~>\n");
}

TEST(LineReader, AnyLineEndLinesAcrossBlocksAndAnUnterminatedLastLine)
{
    test::TempDir dir;
    for (const std::string end : {"\r\n", "\n", "\r"}) {
        // The long line ends the second block of 4096 bytes with the line end's
        // first byte.
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

TEST(TCPIPPrinterReply, EndsAtTheMarkerTheControlDOrTheClose)
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
        FakePrinter fake({"job\n", c.blocks, c.end});
        auto p = open(c.ctrlD, fake.port());
        send(*p, "job\n");
        EXPECT_EQ(p->peek(), c.reply[0]);
        EXPECT_EQ(drain(*p), c.reply) << c.blocks[0];
        EXPECT_EQ(p->peek(), -1);
        EXPECT_EQ(p->read(), -1);
    }
}

TEST(TCPIPPrinterErrors, AResetIsAReadErrorAndAGonePrinterAWriteErrorNotASignal)
{
    FakePrinter resetting({"job\n", {}, FakePrinter::reset});
    auto p = open(false, resetting.port());
    send(*p, "job\n");
    EXPECT_EQ(errorOf([&] { drain(*p); }), "7: error reading from the printer socket");

    FakePrinter gone({"", {}, FakePrinter::reset});
    p = open(true, gone.port());
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_EQ(errorOf([&] {
                  for (int i = 0; i < 1000; ++i)
                      send(*p, std::string(4096, 'x'));
              }),
              "5: error writing to the socket");
}

TEST(TCPIPPrinterWrite, WhatTheJobSendsInEachMode)
{
    FakePrinter fake({"", {}, FakePrinter::readToEnd});
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
    waitUntil([&] { return fake.received().size() == 3; });
    auto got = fake.received();
    ASSERT_EQ(got.size(), 3u);
    EXPECT_EQ(got[0], header + handler + "job\n!(<-eof->) print flush\n");
    EXPECT_EQ(got[1], header + handler + "second\n");
    EXPECT_EQ(got[2], header + "job\nflush\n\x04");
}

TEST(TCPIPPrinterProbe, AnswerDecidesTheModeAndIsCachedPerName)
{
    forgetProbes();
    // A control-D printer answers the probe with 0x04; a pass-through one
    // runs the name 0x04 and says sane!.
    FakePrinter ctrlDPrinter({"\x04", {"\x04"}, FakePrinter::readToEnd});
    FakePrinter passThrough({"\x04 flush", {"sane!"}, FakePrinter::readToEnd});
    EXPECT_TRUE(probing(ctrlDPrinter.port())->CtrlDSupported());
    EXPECT_TRUE(probing(ctrlDPrinter.port())->CtrlDSupported());
    waitUntil([&] { return ctrlDPrinter.received().size() >= 3; });
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    auto got = ctrlDPrinter.received();
    ASSERT_EQ(got.size(), 3u) << "the probe, then the job's own, then no probe the second time";
    EXPECT_EQ(got[1], header);

    // Another name is another printer: probe again, and replace the cache.
    EXPECT_FALSE(probing(passThrough.port(), "localhost")->CtrlDSupported());
    waitUntil([&] { return passThrough.received().size() == 2; });
    got = passThrough.received();
    ASSERT_EQ(got.size(), 2u);
    EXPECT_EQ(got[0], header + "<04> cvn {(sane!) print flush} def\n\x04 flush");
    EXPECT_EQ(got[1], header + handler) << "pass-through: the handler follows";
    {
        std::lock_guard<std::mutex> lock(TCPIPPrinter::CtrlDMutex);
        EXPECT_STREQ(TCPIPPrinter::NameCached.c_str(), "localhost");
        EXPECT_FALSE(TCPIPPrinter::CtrlDCached);
    }
    forgetProbes();
}

TEST(TCPIPPrinterConnect, NamesRetriesAndTheirCodes)
{
    EXPECT_EQ(errorOf([] { TCPIPPrinter p(true, nullptr, 9100, 1); }), "2: invalid printer name");
    EXPECT_EQ(errorOf([] { open(true, 9100, 1, "no-such-printer.invalid"); }),
              "1: 'no-such-printer.invalid' not found");

    FakePrinter fake({"", {}, FakePrinter::readToEnd});
    DeadPort refusing(false);
    EXPECT_EQ(connecting([&] { open(true, refusing.port(), 5); }), "5: 3: could not connect to the printer");
    EXPECT_EQ(connecting([&] { open(true, refusing.port(), 0); }), "0: 3: could not connect to the printer");
    injectConnectErrors({ECONNREFUSED, ETIMEDOUT});
    EXPECT_EQ(connecting([&] { open(true, fake.port(), 3); }), "3") << "refused and timed out are retried";
    injectConnectErrors({ENETUNREACH});
    EXPECT_EQ(connecting([&] { open(true, fake.port(), 5); }), "1: 4: error connecting to the printer")
        << "anything else ends the attempts at once";
    injectConnectErrors({});
}

TEST(TCPIPPrinterTimeouts, EveryWaitEnds)
{
    // A connect that never completes counts as timed out; all attempts fail.
    DeadPort stalled(true);
    EXPECT_EQ(errorOf([&] { open(true, stalled.port(), 2); }), "3: could not connect to the printer");

    FakePrinter stalling({"", {}, FakePrinter::stall});
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

TEST(TCPIPPrinterSignals, ASignalEndsTheReply)
{
    struct sigaction action {};
    action.sa_handler = [](int) {}; // no SA_RESTART
    struct sigaction previous {};
    sigaction(SIGUSR1, &action, &previous);

    FakePrinter fake({"job\n", {"partial"}, FakePrinter::stall});
    PrinterTimeouts t = quick();
    t.reply = 20000;
    TCPIPPrinter p(true, "127.0.0.1", fake.port(), 1, t);
    send(p, "job\n");
    pthread_t reader = pthread_self();
    std::atomic<bool> done{false};
    std::thread interrupter([&] {
        // Keep signalling until the blocked read has given up.
        while (!done) {
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
            if (!done)
                pthread_kill(reader, SIGUSR1);
        }
    });
    EXPECT_EQ(drain(p), "partial");
    done = true;
    interrupter.join();
    sigaction(SIGUSR1, &previous, nullptr);
}

TEST(TCPIPPrinterDescriptors, NoPathLeavesADescriptorOpen)
{
    // Counted with the fake printers gone, since their own sockets live in
    // this process too.
    int before = test::OpenDescriptors();
    {
        FakePrinter stalling({"", {}, FakePrinter::stall});
        FakePrinter replying({"job\n", {"<-eof->"}, FakePrinter::close});
        DeadPort refusing(false), stalled(true);

        errorOf([&] { open(true, refusing.port(), 3); });
        errorOf([&] { open(true, stalled.port()); });
        errorOf([&] { probing(stalling.port()); });
        errorOf([&] { open(true, 1, 1, "no-such-printer.invalid"); });
        injectConnectErrors({ENETUNREACH});
        errorOf([&] { open(true, replying.port()); });
        auto p = open(false, replying.port());
        send(*p, "job\n");
        drain(*p);
        p->reopen();
        p->reopen();
    }
    EXPECT_EQ(test::OpenDescriptors(), before);
}
