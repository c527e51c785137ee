#include "support/fakeprinter.h"

#include <cerrno>
#include <stdexcept>

#include <arpa/inet.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace korrin::test {

namespace {

sockaddr_in loopback(int port)
{
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons(static_cast<std::uint16_t>(port));
    return a;
}

// A socket bound to a free loopback port; listening unless backlog < 0.
int loopbackSocket(int& port, int backlog)
{
    int s = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a = loopback(0);
    socklen_t len = sizeof a;
    if (s < 0 || ::bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a) < 0 || (backlog >= 0 && ::listen(s, backlog) < 0)
        || ::getsockname(s, reinterpret_cast<sockaddr*>(&a), &len) < 0)
        throw std::runtime_error("cannot set up a loopback port");
    port = ntohs(a.sin_port);
    return s;
}

// True when the socket has something to read; false once stop is readable.
bool waitReadable(int socket, int stop)
{
    pollfd p[2] = {{socket, POLLIN, 0}, {stop, POLLIN, 0}};
    int n;
    while ((n = ::poll(p, 2, -1)) < 0 && errno == EINTR) {
    }
    return n > 0 && !(p[1].revents & POLLIN);
}

} // namespace

void FakePrinter::Connection::send(const std::string& bytes)
{
    // A client that has gone ends the sending; the script goes on regardless.
    for (std::size_t done = 0; done < bytes.size();) {
        ssize_t n = ::send(socket, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
        if (n <= 0)
            return;
        done += static_cast<std::size_t>(n);
    }
}

void FakePrinter::Connection::sendBlocks(const std::vector<std::string>& blocks)
{
    for (const auto& b : blocks) {
        send(b);
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
}

bool FakePrinter::Connection::readUntil(const std::string& text)
{
    char block[4096];
    while (text.empty() || received.find(text) == std::string::npos) {
        ssize_t n = waitReadable(socket, stop) ? ::recv(socket, block, sizeof block, 0) : 0;
        if (n <= 0)
            return false;
        received.append(block, static_cast<std::size_t>(n));
    }
    return true;
}

void FakePrinter::Connection::reset()
{
    linger l{1, 0};
    ::setsockopt(socket, SOL_SOCKET, SO_LINGER, &l, sizeof l);
    ::close(socket);
    socket = -1;
}

void FakePrinter::Connection::stall()
{
    pollfd p{stop, POLLIN, 0};
    while (::poll(&p, 1, -1) < 0 && errno == EINTR) {
    }
}

FakePrinter::FakePrinter(Script script) : script_(std::move(script))
{
    listener_ = loopbackSocket(port_, 16);
    if (::pipe2(stopPipe_, O_CLOEXEC) < 0)
        throw std::runtime_error("pipe failed");
    thread_ = std::thread([this] {
        while (waitReadable(listener_, stopPipe_[0])) {
            int s = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
            if (s < 0)
                continue;
            ++accepted_;
            Connection c{s, stopPipe_[0], {}};
            script_(c);
            if (c.socket != -1)
                ::close(c.socket);
            std::lock_guard<std::mutex> lock(mutex_);
            received_.push_back(c.received);
        }
    });
}

FakePrinter::~FakePrinter()
{
    [[maybe_unused]] auto n = ::write(stopPipe_[1], "x", 1);
    thread_.join();
    ::close(listener_);
    ::close(stopPipe_[0]);
    ::close(stopPipe_[1]);
}

std::vector<std::string> FakePrinter::received() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return received_;
}

DeadPort::DeadPort(bool stalled)
{
    socket_ = loopbackSocket(port_, stalled ? 0 : -1);
    if (!stalled)
        return;
    // This one connection fills the queue; nothing ever accepts it.
    filler_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a = loopback(port_);
    if (::connect(filler_, reinterpret_cast<sockaddr*>(&a), sizeof a) < 0)
        throw std::runtime_error("cannot fill the accept queue");
}

DeadPort::~DeadPort()
{
    if (filler_ != -1)
        ::close(filler_);
    ::close(socket_);
}

} // namespace korrin::test
