// The printer connection against the scripted fake printer: both control-D
// modes, the end marker split across blocks, the probe and its cache, the
// connect retries and codes, every time limit, signals, early closes, and
// descriptors.
#include <gtest/gtest.h>

#include <atomic>
#include <csignal>
#include <deque>
#include <mutex>
#include <thread>

#include <dlfcn.h>
#include <netdb.h>
#include <pthread.h>
#include <sys/socket.h>

#include "stream/tcpipprinter.h"
#include "support/fakeprinter.h"
#include "support/streamerror.h"

using namespace korrin;
using korrin::test::streamErrorOf;
using korrin::test::FakePrinter;

// --- connect and getaddrinfo, counted and optionally made to fail ------------
// The library calls the system's connect and getaddrinfo; these definitions
// in the test program stand in front of them, count the calls, and fail a
// connect with an injected errno when a test asks for it.
namespace {
std::atomic<int> connectCalls{0};
std::atomic<int> lookupCalls{0};
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
    using Connect = int (*)(int, const sockaddr*, socklen_t);
    static Connect real = reinterpret_cast<Connect>(dlsym(RTLD_NEXT, "connect"));
    return real(fd, address, length);
}

extern "C" int getaddrinfo(const char* node, const char* service, const addrinfo* hints, addrinfo** res)
{
    ++lookupCalls;
    using Lookup = int (*)(const char*, const char*, const addrinfo*, addrinfo**);
    static Lookup real = reinterpret_cast<Lookup>(dlsym(RTLD_NEXT, "getaddrinfo"));
    return real(node, service, hints, res);
}

namespace {

const std::string header = "%!\n";
const std::string handler = "errordict /handleerror get /.handleerror exch def errordict /handleerror "
                            "{userdict /.handleerror get exec (<-eof->) print flush} put\n";
const std::string probeText = std::string("<04> cvn {(sane!) print flush} def\n\x04 flush");

PrinterTimeouts quick()
{
    PrinterTimeouts t;
    t.connect = 300;
    t.probe = 300;
    t.reply = 300;
    t.write = 300;
    return t;
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


// The fake printer accepts on its own thread; give it a moment to catch up.
void waitForConnections(const FakePrinter& fake, int n)
{
    for (int i = 0; i < 300 && fake.connections() < n; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
}

void waitForFinished(const FakePrinter& fake, std::size_t n)
{
    for (int i = 0; i < 300 && fake.received().size() < n; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
}

void forgetProbes()
{
    std::lock_guard<std::mutex> lock(TCPIPPrinter::CtrlDMutex);
    TCPIPPrinter::NameCached = "";
    TCPIPPrinter::CtrlDCached = false;
}

// A reply script: wait for the job's last line, then send the blocks.
FakePrinter::Script replyWith(std::vector<std::string> blocks, bool stallAfter = true)
{
    return [blocks, stallAfter](FakePrinter::Connection& c, int) {
        c.readUntil("job\n");
        c.sendBlocks(blocks);
        if (stallAfter)
            c.stall();
    };
}

std::string replyOf(bool ctrlD, std::vector<std::string> blocks, bool stallAfter = true)
{
    FakePrinter fake(replyWith(std::move(blocks), stallAfter));
    TCPIPPrinter p(ctrlD, "127.0.0.1", fake.port(), 1, quick());
    send(p, "job\n");
    return drain(p);
}

} // namespace

TEST(TCPIPPrinterReply, PassThroughModeEndsAtTheMarkerAndDeliversIt)
{
    EXPECT_EQ(replyOf(false, {"abc<-eof->"}), "abc<-eof->");
    // The marker need not end the block; the whole block is delivered.
    EXPECT_EQ(replyOf(false, {"x<-eof->tail"}), "x<-eof->tail");
}

TEST(TCPIPPrinterReply, MarkerSplitAcrossBlocks)
{
    EXPECT_EQ(replyOf(false, {"abc<-e", "of->"}), "abc<-eof->");
    EXPECT_EQ(replyOf(false, {"<-", "eo", "f->"}), "<-eof->");
    // Another byte before the rest of the marker: no end; the reply then
    // ends when the printer closes.
    EXPECT_EQ(replyOf(false, {"abc<-e", "Xof->", "more"}, false), "abc<-eXof->more");
}

TEST(TCPIPPrinterReply, CtrlDModeEndsAtTheControlD)
{
    FakePrinter fake(replyWith({std::string("abc\x04" "def")}));
    TCPIPPrinter p(true, "127.0.0.1", fake.port(), 1, quick());
    send(p, "job\n");
    EXPECT_EQ(p.peek(), 'a');
    EXPECT_EQ(drain(p), "abc");
    EXPECT_EQ(p.peek(), -1);
    EXPECT_EQ(p.read(), -1);
}

TEST(TCPIPPrinterReply, PrinterClosingEndsTheReply)
{
    EXPECT_EQ(replyOf(false, {"partial <-e"}, false), "partial <-e");
    EXPECT_EQ(replyOf(true, {"partial"}, false), "partial");
}

TEST(TCPIPPrinterReply, AResetIsAReadError)
{
    FakePrinter fake([](FakePrinter::Connection& c, int) {
        c.readUntil("job\n");
        c.reset();
    });
    TCPIPPrinter p(false, "127.0.0.1", fake.port(), 1, quick());
    send(p, "job\n");
    auto e = streamErrorOf([&] { drain(p); });
    EXPECT_EQ(e.code, 7);
    EXPECT_STREQ(e.message.c_str(), "error reading from the printer socket");
}

TEST(TCPIPPrinterWrite, WhatTheJobSendsInEachMode)
{
    FakePrinter fake([](FakePrinter::Connection& c, int) { c.readToEnd(); });
    {
        TCPIPPrinter p(false, "127.0.0.1", fake.port(), 1, quick());
        send(p, "job\n");
        p.write('!');
        p.write(nullptr, 0);
        p.writeeof();
        p.writeeof(); // once only
        auto e = streamErrorOf([&] { p.write('x'); });
        EXPECT_EQ(e.code, 6);
        EXPECT_STREQ(e.message.c_str(), "no data can be written after EOF");
        p.reopen(); // a new connection, header and handler again, writes allowed
        send(p, "second\n");
    }
    {
        TCPIPPrinter p(true, "127.0.0.1", fake.port(), 1, quick());
        send(p, "job\n");
        p.writeeof();
    }
    waitForFinished(fake, 3);
    auto got = fake.received();
    ASSERT_EQ(got.size(), 3u);
    EXPECT_EQ(got[0], header + handler + "job\n!(<-eof->) print flush\n");
    EXPECT_EQ(got[1], header + handler + "second\n");
    EXPECT_EQ(got[2], header + "job\nflush\n\x04");
}

TEST(TCPIPPrinterWrite, APrinterThatHasGoneIsAWriteErrorNotASignal)
{
    FakePrinter fake([](FakePrinter::Connection& c, int) { c.reset(); });
    TCPIPPrinter p(true, "127.0.0.1", fake.port(), 1, quick());
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    auto e = streamErrorOf([&] {
        std::string block(4096, 'x');
        for (int i = 0; i < 1000; ++i)
            send(p, block);
    });
    EXPECT_EQ(e.code, 5);
    EXPECT_STREQ(e.message.c_str(), "error writing to the socket");
}

TEST(TCPIPPrinterProbe, AnswerDecidesTheModeAndIsCachedPerName)
{
    forgetProbes();
    // A control-D printer answers the probe with 0x04; a pass-through one
    // runs the name 0x04 and says sane!.
    FakePrinter ctrlDPrinter([](FakePrinter::Connection& c, int) {
        if (c.readUntil("\x04"))
            c.send("\x04");
        c.readToEnd();
    });
    FakePrinter passThrough([](FakePrinter::Connection& c, int) {
        if (c.readUntil("\x04 flush"))
            c.send("sane!");
        c.readToEnd();
    });
    {
        TCPIPPrinter p("127.0.0.1", ctrlDPrinter.port(), 1, quick());
        EXPECT_TRUE(p.CtrlDSupported());
    }
    waitForConnections(ctrlDPrinter, 2);
    EXPECT_EQ(ctrlDPrinter.connections(), 2); // the probe, then the job's own
    {
        TCPIPPrinter again("127.0.0.1", ctrlDPrinter.port(), 1, quick());
        EXPECT_TRUE(again.CtrlDSupported());
    }
    waitForConnections(ctrlDPrinter, 3);
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_EQ(ctrlDPrinter.connections(), 3); // no probe the second time
    {
        // Another name is another printer: probe again, and replace the cache.
        TCPIPPrinter other("localhost", passThrough.port(), 1, quick());
        EXPECT_FALSE(other.CtrlDSupported());
    }
    waitForConnections(passThrough, 2);
    EXPECT_EQ(passThrough.connections(), 2);
    {
        std::lock_guard<std::mutex> lock(TCPIPPrinter::CtrlDMutex);
        EXPECT_STREQ(TCPIPPrinter::NameCached.c_str(), "localhost");
        EXPECT_FALSE(TCPIPPrinter::CtrlDCached);
    }
    waitForFinished(passThrough, 2);
    waitForFinished(ctrlDPrinter, 2);
    auto got = passThrough.received();
    ASSERT_EQ(got.size(), 2u);
    EXPECT_EQ(got[0], header + probeText);
    EXPECT_EQ(got[1], header + handler); // pass-through: the handler follows
    EXPECT_EQ(ctrlDPrinter.received()[1], header);
    forgetProbes();
}

TEST(TCPIPPrinterConnect, NamesAndAddresses)
{
    auto e = streamErrorOf([] { TCPIPPrinter p(true, nullptr, 9100, 1); });
    EXPECT_EQ(e.code, 2);
    EXPECT_STREQ(e.message.c_str(), "invalid printer name");

    e = streamErrorOf([] { TCPIPPrinter p(true, "no-such-printer.invalid", 9100, 1); });
    EXPECT_EQ(e.code, 1);
    EXPECT_STREQ(e.message.c_str(), "'no-such-printer.invalid' not found");

    FakePrinter fake([](FakePrinter::Connection& c, int) { c.readToEnd(); });
    int lookups = lookupCalls;
    { TCPIPPrinter p(true, "127.0.0.1", fake.port(), 1, quick()); }
    EXPECT_EQ(lookupCalls, lookups); // a dotted address needs no lookup
    { TCPIPPrinter p(true, "localhost", fake.port(), 1, quick()); }
    EXPECT_EQ(lookupCalls, lookups + 1);
}

TEST(TCPIPPrinterConnect, RetriesAndTheirCodes)
{
    test::RefusingPort refusing;
    int before = connectCalls;
    auto e = streamErrorOf([&] { TCPIPPrinter p(true, "127.0.0.1", refusing.port(), 5, quick()); });
    EXPECT_EQ(e.code, 3);
    EXPECT_STREQ(e.message.c_str(), "could not connect to the printer");
    EXPECT_EQ(connectCalls - before, 5);

    before = connectCalls;
    EXPECT_EQ(streamErrorOf([&] { TCPIPPrinter p(true, "127.0.0.1", refusing.port(), 0, quick()); }).code, 3);
    EXPECT_EQ(connectCalls - before, 0);

    // Refused and timed out are retried; a third success is a connection.
    FakePrinter fake([](FakePrinter::Connection& c, int) { c.readToEnd(); });
    injectConnectErrors({ECONNREFUSED, ETIMEDOUT});
    before = connectCalls;
    { TCPIPPrinter p(true, "127.0.0.1", fake.port(), 3, quick()); }
    EXPECT_EQ(connectCalls - before, 3);

    // Anything else ends the attempts at once with code 4.
    injectConnectErrors({ENETUNREACH});
    before = connectCalls;
    e = streamErrorOf([&] { TCPIPPrinter p(true, "127.0.0.1", fake.port(), 5, quick()); });
    EXPECT_EQ(e.code, 4);
    EXPECT_STREQ(e.message.c_str(), "error connecting to the printer");
    EXPECT_EQ(connectCalls - before, 1);
    injectConnectErrors({});
}

TEST(TCPIPPrinterTimeouts, EveryWaitEnds)
{
    forgetProbes();
    FakePrinter stalling([](FakePrinter::Connection& c, int) { c.stall(); });

    // A connect that never completes counts as timed out; all attempts fail.
    test::StalledListener stalled;
    auto e = streamErrorOf([&] { TCPIPPrinter p(true, "127.0.0.1", stalled.port(), 2, quick()); });
    EXPECT_EQ(e.code, 3);

    // The probe's answer.
    e = streamErrorOf([&] { TCPIPPrinter p("127.0.0.1", stalling.port(), 1, quick()); });
    EXPECT_EQ(e.code, TCPIPPrinter::timeoutCode);
    EXPECT_STREQ(e.message.c_str(), "timed out waiting for the printer to answer the control-D probe");

    // A reply.
    TCPIPPrinter p(false, "127.0.0.1", stalling.port(), 1, quick());
    e = streamErrorOf([&] { p.read(); });
    EXPECT_EQ(e.code, TCPIPPrinter::timeoutCode);
    EXPECT_STREQ(e.message.c_str(), "timed out waiting for the printer's reply");

    // A printer that stops taking data.
    e = streamErrorOf([&] {
        std::string block(1 << 20, 'x');
        for (int i = 0; i < 1024; ++i)
            send(p, block);
    });
    EXPECT_EQ(e.code, TCPIPPrinter::timeoutCode);
    EXPECT_STREQ(e.message.c_str(), "timed out writing to the printer");
    forgetProbes();
}

namespace {
void ignoreSignal(int) {}
} // namespace

TEST(TCPIPPrinterSignals, ASignalEndsTheReply)
{
    struct sigaction action {};
    action.sa_handler = ignoreSignal; // no SA_RESTART
    struct sigaction previous {};
    sigaction(SIGUSR1, &action, &previous);

    FakePrinter fake([](FakePrinter::Connection& c, int) {
        c.readUntil("job\n");
        c.send("partial");
        c.stall();
    });
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
        FakePrinter stalling([](FakePrinter::Connection& c, int) { c.stall(); });
        FakePrinter replying(replyWith({"<-eof->"}, false));
        test::RefusingPort refusing;
        test::StalledListener stalled;

        streamErrorOf([&] { TCPIPPrinter p(true, "127.0.0.1", refusing.port(), 3, quick()); });
        streamErrorOf([&] { TCPIPPrinter p(true, "127.0.0.1", stalled.port(), 1, quick()); });
        streamErrorOf([&] { TCPIPPrinter p("127.0.0.1", stalling.port(), 1, quick()); });
        streamErrorOf([&] { TCPIPPrinter p(true, "no-such-printer.invalid", 1, 1, quick()); });
        injectConnectErrors({ENETUNREACH});
        streamErrorOf([&] { TCPIPPrinter p(true, "127.0.0.1", replying.port(), 1, quick()); });
        {
            TCPIPPrinter p(false, "127.0.0.1", replying.port(), 1, quick());
            send(p, "job\n");
            drain(p);
            p.reopen();
            p.reopen();
        }
    }
    EXPECT_EQ(test::OpenDescriptors(), before);
    forgetProbes();
}
