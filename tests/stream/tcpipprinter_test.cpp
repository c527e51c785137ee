// The printer connection against the scripted fake printer: both control-D
// modes, the end marker split across blocks, the probe and its cache, the
// connect retries and codes, every time limit, signals, early closes, and
// descriptors.
#include <gtest/gtest.h>

#include <atomic>
#include <csignal>
#include <deque>
#include <memory>
#include <mutex>
#include <thread>

#include <dlfcn.h>
#include <pthread.h>
#include <sys/socket.h>

#include "stream/tcpipprinter.h"
#include "support/fakeprinter.h"
#include "support/tempdir.h"
#include "support/thrown.h"

using namespace korrin;
using korrin::test::DeadPort;
using korrin::test::FakePrinter;
using Error = BasicDataStream::error;

// The library calls the system's connect; this definition in the test
// program stands in front of it, counts the calls, and fails a connect with an
// injected errno when a test asks for it.
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

std::string drain(TCPIPPrinter& p)
{
    std::string out;
    for (int c; (c = p.read()) != -1;)
        out.push_back(static_cast<char>(c));
    return out;
}

void send(TCPIPPrinter& p, const std::string& text)
{
    p.write(reinterpret_cast<const unsigned char*>(text.data()), static_cast<unsigned>(text.size()));
}

template <class F>
std::string errorOf(F f)
{
    return test::thrownText<Error>(f);
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

using Script = FakePrinter::Script;
const Script readAll{"", {}, FakePrinter::readToEnd};
const Script stallAll{"", {}, FakePrinter::stall};

} // namespace

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
    FakePrinter fake(readAll);
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
    waitUntil([&] { return ctrlDPrinter.received().size() == 3; });
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_EQ(ctrlDPrinter.connections(), 3) << "the probe, then the job's own, then no probe the second time";
    EXPECT_EQ(ctrlDPrinter.received()[1], header);

    // Another name is another printer: probe again, and replace the cache.
    EXPECT_FALSE(probing(passThrough.port(), "localhost")->CtrlDSupported());
    waitUntil([&] { return passThrough.received().size() == 2; });
    auto got = passThrough.received();
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

    // Refused and timed out are retried, up to the attempts asked for.
    FakePrinter fake(readAll);
    DeadPort refusing(false);
    int before = connectCalls;
    EXPECT_EQ(errorOf([&] { open(true, refusing.port(), 5); }), "3: could not connect to the printer");
    EXPECT_EQ(connectCalls - before, 5);
    before = connectCalls;
    EXPECT_EQ(errorOf([&] { open(true, refusing.port(), 0); }), "3: could not connect to the printer");
    EXPECT_EQ(connectCalls - before, 0);
    injectConnectErrors({ECONNREFUSED, ETIMEDOUT});
    before = connectCalls;
    open(true, fake.port(), 3);
    EXPECT_EQ(connectCalls - before, 3);

    // Anything else ends the attempts at once.
    injectConnectErrors({ENETUNREACH});
    before = connectCalls;
    EXPECT_EQ(errorOf([&] { open(true, fake.port(), 5); }), "4: error connecting to the printer");
    EXPECT_EQ(connectCalls - before, 1);
    injectConnectErrors({});
}

TEST(TCPIPPrinterTimeouts, EveryWaitEnds)
{
    forgetProbes();
    // A connect that never completes counts as timed out; all attempts fail.
    DeadPort stalled(true);
    EXPECT_EQ(errorOf([&] { open(true, stalled.port(), 2); }), "3: could not connect to the printer");

    FakePrinter stalling(stallAll);
    EXPECT_EQ(errorOf([&] { probing(stalling.port()); }),
              "8: timed out waiting for the printer to answer the control-D probe");
    auto p = open(false, stalling.port());
    EXPECT_EQ(errorOf([&] { p->read(); }), "8: timed out waiting for the printer's reply");
    EXPECT_EQ(errorOf([&] {
                  for (int i = 0; i < 1024; ++i)
                      send(*p, std::string(1 << 20, 'x'));
              }),
              "8: timed out writing to the printer");
    forgetProbes();
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
    forgetProbes();
    // Counted with the fake printers gone, since their own sockets live in
    // this process too.
    int before = test::OpenDescriptors();
    {
        FakePrinter stalling(stallAll);
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
    forgetProbes();
}
