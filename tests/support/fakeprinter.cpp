#include "support/fakeprinter.h"

#include <cerrno>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <stdexcept>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace korrin::test {

namespace {

int loopbackSocket(int& port, int backlog, bool listening)
{
    int s = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (s < 0)
        throw std::runtime_error("socket failed");
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof a;
    if (::bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a) < 0 || (listening && ::listen(s, backlog) < 0)
        || ::getsockname(s, reinterpret_cast<sockaddr*>(&a), &len) < 0) {
        ::close(s);
        throw std::runtime_error("cannot set up a loopback port");
    }
    port = ntohs(a.sin_port);
    return s;
}

// True when the socket has something to read; false when the stop signal came.
bool waitReadable(int socket, int stop)
{
    pollfd p[2] = {{socket, POLLIN, 0}, {stop, POLLIN, 0}};
    for (;;) {
        int n = ::poll(p, 2, -1);
        if (n < 0 && errno == EINTR)
            continue;
        return n > 0 && !(p[1].revents & POLLIN);
    }
}

} // namespace

void FakePrinter::Connection::send(const std::string& bytes)
{
    std::size_t done = 0;
    while (done < bytes.size()) {
        ssize_t n = ::send(socket_, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
        if (n <= 0)
            return; // the client has gone; the script goes on regardless
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

bool FakePrinter::Connection::readSome()
{
    if (!waitReadable(socket_, stop_))
        return false;
    char block[4096];
    ssize_t n = ::recv(socket_, block, sizeof block, 0);
    if (n <= 0)
        return false;
    received_.append(block, static_cast<std::size_t>(n));
    return true;
}

bool FakePrinter::Connection::readUntil(const std::string& text)
{
    while (received_.find(text) == std::string::npos)
        if (!readSome())
            return false;
    return true;
}

void FakePrinter::Connection::readToEnd()
{
    while (readSome()) {
    }
}

void FakePrinter::Connection::reset()
{
    linger l{1, 0};
    ::setsockopt(socket_, SOL_SOCKET, SO_LINGER, &l, sizeof l);
    ::close(socket_);
    socket_ = -1;
}

void FakePrinter::Connection::stall()
{
    pollfd p{stop_, POLLIN, 0};
    while (::poll(&p, 1, -1) < 0 && errno == EINTR) {
    }
}

FakePrinter::FakePrinter(Script script) : script_(std::move(script))
{
    listener_ = loopbackSocket(port_, 16, true);
    if (::pipe2(stopPipe_, O_CLOEXEC) < 0) {
        ::close(listener_);
        throw std::runtime_error("pipe failed");
    }
    thread_ = std::thread([this] { serve(); });
}

FakePrinter::~FakePrinter()
{
    ::write(stopPipe_[1], "x", 1);
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

void FakePrinter::serve()
{
    for (int index = 0;; ++index) {
        if (!waitReadable(listener_, stopPipe_[0]))
            return;
        int s = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
        if (s < 0)
            continue;
        ++accepted_;
        Connection c(s, stopPipe_[0]);
        script_(c, index);
        {
            std::lock_guard<std::mutex> lock(mutex_);
            received_.push_back(c.received_);
        }
        if (c.socket_ != -1)
            ::close(c.socket_);
    }
}

RefusingPort::RefusingPort() : socket_(loopbackSocket(port_, 0, false)) {}

RefusingPort::~RefusingPort()
{
    ::close(socket_);
}

StalledListener::StalledListener()
{
    listener_ = loopbackSocket(port_, 0, true);
    filler_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons(static_cast<std::uint16_t>(port_));
    // This one connection fills the queue; nothing ever accepts it.
    if (::connect(filler_, reinterpret_cast<sockaddr*>(&a), sizeof a) < 0)
        throw std::runtime_error("cannot fill the accept queue");
}

StalledListener::~StalledListener()
{
    ::close(filler_);
    ::close(listener_);
}

int OpenDescriptors()
{
    int n = 0;
    for ([[maybe_unused]] const auto& e : std::filesystem::directory_iterator("/proc/self/fd"))
        ++n;
    return n;
}

} // namespace korrin::test
