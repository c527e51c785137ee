#include "stream/tcpipprinter.h"

#include <cerrno>
#include <chrono>
#include <cstring>
#include <new>
#include <thread>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include "core/list.h"

namespace korrin {

string TCPIPPrinter::NameCached;
bool TCPIPPrinter::CtrlDCached = false;
std::mutex TCPIPPrinter::CtrlDMutex;

namespace {

constexpr char jobHeader[] = "%!\n";
constexpr char endMarker[] = "<-eof->";
constexpr int endMarkerLength = 7;
constexpr char errorHandler[] = "errordict /handleerror get /.handleerror exch def errordict /handleerror "
                                "{userdict /.handleerror get exec (<-eof->) print flush} put\n";
constexpr char endOfJobPassThrough[] = "(<-eof->) print flush\n";
constexpr char endOfJobCtrlD[] = "flush\n\x04";
constexpr char probe[] = "<04> cvn {(sane!) print flush} def\n\x04 flush";
constexpr int probeAnswerSize = 100;
constexpr unsigned char ctrlD = 0x04;

static_assert(sizeof(errorHandler) - 1 == 133);
static_assert(sizeof(probe) - 1 == 42);

[[noreturn]] void fail(int code, const char* message)
{
    throw BasicDataStream::error{code, message};
}

const unsigned char* bytes(const char* text)
{
    return reinterpret_cast<const unsigned char*>(text);
}

enum class Wait { ready, timedOut, interrupted };

// Waits for events on the socket; an error or hang-up counts as ready, so the
// call that follows reports it.
Wait waitFor(int socket, short events, int timeoutMs)
{
    pollfd p{socket, events, 0};
    int n = ::poll(&p, 1, timeoutMs);
    if (n < 0)
        return errno == EINTR ? Wait::interrupted : Wait::ready;
    return n == 0 ? Wait::timedOut : Wait::ready;
}

// The matching rule for the end marker: the first start i in the block where
// the block and the pattern agree on as many bytes as both have decides. A
// full match gives i + 1, a match cut off by the block's end -(n - i).
int matchAt(const unsigned char* block, int n, const char* pattern, int m)
{
    for (int i = 0; i < n; ++i) {
        int compared = n - i < m ? n - i : m;
        if (std::memcmp(block + i, pattern, static_cast<std::size_t>(compared)) == 0)
            return compared == m ? i + 1 : -(n - i);
    }
    return 0;
}

void closeSocket(int& socket)
{
    if (socket != -1) {
        ::close(socket);
        socket = -1;
    }
}

// One attempt: 0 on success, else the errno of the failure (ETIMEDOUT when
// the attempt outlived its limit). The socket is closed on failure.
int connectOnce(int& socket, const sockaddr_in& peer, int timeoutMs)
{
    socket = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (socket < 0)
        return errno;
    int err = 0;
    if (::connect(socket, reinterpret_cast<const sockaddr*>(&peer), sizeof peer) < 0) {
        err = errno;
        if (err == EINPROGRESS) {
            auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
            for (;;) {
                auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
                Wait w = waitFor(socket, POLLOUT, left.count() > 0 ? static_cast<int>(left.count()) : 0);
                if (w == Wait::interrupted)
                    continue; // a signal does not end the attempt early
                if (w == Wait::timedOut) {
                    err = ETIMEDOUT;
                    break;
                }
                socklen_t len = sizeof err;
                if (::getsockopt(socket, SOL_SOCKET, SO_ERROR, &err, &len) < 0)
                    err = errno;
                break;
            }
        }
    }
    if (err != 0)
        closeSocket(socket);
    return err;
}

} // namespace

TCPIPPrinter::TCPIPPrinter(const char* name, int port, int attempts, const Timeouts& timeouts)
    : name_(name), attempts_(attempts), timeouts_(timeouts)
{
    setup(name, port, true);
}

TCPIPPrinter::TCPIPPrinter(bool ctrlDMode, const char* name, int port, int attempts, const Timeouts& timeouts)
    : name_(name), attempts_(attempts), ctrlD_(ctrlDMode), timeouts_(timeouts)
{
    setup(name, port, false);
}

TCPIPPrinter::~TCPIPPrinter()
{
    terminate();
}

void TCPIPPrinter::setup(const char* name, int port, bool probe)
{
    // The destructor does not run for a constructor that throws.
    try {
        init(name, port);
        if (probe) {
            bool known = false;
            {
                std::lock_guard<std::mutex> lock(CtrlDMutex);
                if (NameCached == name_) {
                    ctrlD_ = CtrlDCached;
                    known = true;
                }
            }
            if (!known) {
                ctrlD_ = ProbeCtrlD();
                std::lock_guard<std::mutex> lock(CtrlDMutex);
                NameCached = name_;
                CtrlDCached = ctrlD_;
            }
        }
        if (!ctrlD_)
            installErrorHandler();
    } catch (...) {
        terminate();
        throw;
    }
}

void TCPIPPrinter::init(const char* name, int port)
{
    if (!name)
        fail(2, "invalid printer name");
    peer_ = {};
    peer_.sin_family = AF_INET;
    peer_.sin_port = htons(static_cast<std::uint16_t>(port));
    // A dotted address is used as it is, without a lookup.
    if (::inet_aton(name, &peer_.sin_addr) == 0) {
        addrinfo hints{};
        hints.ai_family = AF_INET;
        hints.ai_socktype = SOCK_STREAM;
        addrinfo* found = nullptr;
        if (::getaddrinfo(name, nullptr, &hints, &found) != 0 || !found) {
            string message("'");
            message.append(name);
            message.append("' not found");
            throw error{1, message};
        }
        peer_.sin_addr = reinterpret_cast<const sockaddr_in*>(found->ai_addr)->sin_addr;
        ::freeaddrinfo(found);
    }
    if (!buffer_) {
        unsigned char* buf = new (std::nothrow) unsigned char[bufferSize];
        KORRIN_REQUIRE(buf != 0);
        buffer_.reset(buf);
    }
    connect();
}

void TCPIPPrinter::connect()
{
    closeSocket(socket_);
    bool connected = false;
    for (int attempt = 0; attempt < attempts_ && !connected; ++attempt) {
        int err = connectOnce(socket_, peer_, timeouts_.connect);
        switch (err) {
        case 0: connected = true; break;
        case ETIMEDOUT:
        case ECONNREFUSED: break;
        case EALREADY: std::this_thread::sleep_for(std::chrono::seconds(180)); break;
        default: fail(4, "error connecting to the printer");
        }
    }
    if (!connected)
        fail(3, "could not connect to the printer");
    write(bytes(jobHeader), sizeof jobHeader - 1);
}

bool TCPIPPrinter::ProbeCtrlD()
{
    // The probe's own write is not checked: a printer that took nothing
    // simply gives no answer.
    ::send(socket_, probe, sizeof probe - 1, MSG_NOSIGNAL);
    unsigned char answer[probeAnswerSize] = {};
    bool found = false;
    switch (waitFor(socket_, POLLIN, timeouts_.probe)) {
    case Wait::timedOut: fail(timeoutCode, "timed out waiting for the printer to answer the control-D probe");
    case Wait::interrupted: break;
    case Wait::ready: {
        ssize_t got = ::recv(socket_, answer, sizeof answer, 0);
        found = got > 0 && std::memchr(answer, ctrlD, static_cast<std::size_t>(got)) != nullptr;
        break;
    }
    }
    closeSocket(socket_);
    std::this_thread::sleep_for(std::chrono::seconds(1));
    connect();
    return found;
}

void TCPIPPrinter::installErrorHandler()
{
    write(bytes(errorHandler), sizeof errorHandler - 1);
}

void TCPIPPrinter::fetchBlock()
{
    blockLength_ = 0;
    if (endOfReply_)
        return;
    ssize_t got;
    for (;;) {
        Wait w = waitFor(socket_, POLLIN, timeouts_.reply);
        if (w == Wait::timedOut)
            fail(timeoutCode, "timed out waiting for the printer's reply");
        if (w == Wait::interrupted) {
            endOfReply_ = true;
            return;
        }
        got = ::recv(socket_, buffer_.get(), bufferSize, 0);
        if (got >= 0)
            break;
        if (errno == EINTR) {
            endOfReply_ = true;
            return;
        }
        if (errno != EAGAIN && errno != EWOULDBLOCK)
            fail(7, "error reading from the printer socket");
    }
    int n = static_cast<int>(got);
    if (n == 0) {
        // The printer closed the connection: nothing more will come.
        endOfReply_ = true;
        return;
    }
    const unsigned char* block = buffer_.get();
    if (ctrlD_) {
        const void* eoj = std::memchr(block, ctrlD, static_cast<std::size_t>(n));
        if (eoj) {
            blockLength_ = static_cast<int>(static_cast<const unsigned char*>(eoj) - block);
            endOfReply_ = true;
        } else {
            blockLength_ = n;
        }
        return;
    }
    // The whole block is delivered, marker included; the marker may arrive
    // split over several blocks.
    blockLength_ = n;
    if (markerProgress_ != 0) {
        int restLength = endMarkerLength - markerProgress_;
        int r = matchAt(block, n, endMarker + markerProgress_, restLength);
        if (r == -n && n < restLength)
            markerProgress_ += n;
        else if (r == 1)
            endOfReply_ = true;
        else
            markerProgress_ = 0;
    }
    int r = matchAt(block, n, endMarker, endMarkerLength);
    if (r > 0)
        endOfReply_ = true;
    else if (r < 0)
        markerProgress_ = -r;
}

int TCPIPPrinter::next(bool consume)
{
    for (;;) {
        if (readPosition_ == blockLength_) {
            readPosition_ = 0;
            fetchBlock();
        }
        if (blockLength_ != 0) {
            int c = buffer_[readPosition_];
            if (consume)
                ++readPosition_;
            return c;
        }
        if (endOfReply_)
            return -1;
    }
}

int TCPIPPrinter::read()
{
    return next(true);
}

int TCPIPPrinter::peek()
{
    return next(false);
}

bool TCPIPPrinter::sendAll(const unsigned char* data, std::size_t length)
{
    while (length > 0) {
        ssize_t put = ::send(socket_, data, length, MSG_NOSIGNAL);
        if (put > 0) {
            data += put;
            length -= static_cast<std::size_t>(put);
            continue;
        }
        if (put < 0 && errno == EINTR)
            return false;
        if (put < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            Wait w = waitFor(socket_, POLLOUT, timeouts_.write);
            if (w == Wait::timedOut)
                fail(timeoutCode, "timed out writing to the printer");
            if (w == Wait::interrupted)
                return false;
            continue;
        }
        fail(5, "error writing to the socket");
    }
    return true;
}

void TCPIPPrinter::write(unsigned char byte)
{
    write(&byte, 1);
}

void TCPIPPrinter::write(const unsigned char* data, unsigned length)
{
    if (endWritten_)
        fail(6, "no data can be written after EOF");
    if (length == 0)
        return;
    if (socket_ == -1)
        fail(5, "error writing to the socket");
    // A signal stops the write quietly; the rest of the data is not sent.
    sendAll(data, length);
}

void TCPIPPrinter::writeeof()
{
    if (endWritten_)
        return;
    if (ctrlD_)
        write(bytes(endOfJobCtrlD), sizeof endOfJobCtrlD - 1);
    else
        write(bytes(endOfJobPassThrough), sizeof endOfJobPassThrough - 1);
    endWritten_ = true;
}

void TCPIPPrinter::reopen()
{
    closeSocket(socket_);
    endOfReply_ = false;
    endWritten_ = false;
    blockLength_ = 0;
    readPosition_ = 0;
    connect();
    if (!ctrlD_)
        installErrorHandler();
}

void TCPIPPrinter::terminate()
{
    closeSocket(socket_);
}

} // namespace korrin
