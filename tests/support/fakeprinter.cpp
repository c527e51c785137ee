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

// True when the socket has something to read (or none is given); false once
// stop is readable.
bool waitReadable(int socket, int stop)
{
    pollfd p[2] = {{stop, POLLIN, 0}, {socket, POLLIN, 0}};
    int n;
    while ((n = ::poll(p, socket < 0 ? 1 : 2, -1)) < 0 && errno == EINTR) {
    }
    return n > 0 && !(p[0].revents & POLLIN);
}

} // namespace

FakePrinter::FakePrinter(Script script) : script_(std::move(script))
{
    listener_ = loopbackSocket(port_, 16);
    if (::pipe2(stop_, O_CLOEXEC) < 0)
        throw std::runtime_error("pipe failed");
    thread_ = std::thread([this] {
        while (waitReadable(listener_, stop_[0])) {
            int s = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
            if (s >= 0)
                serve(s);
        }
    });
}

void FakePrinter::serve(int socket)
{
    std::string got;
    auto readSome = [&] {
        char block[4096];
        ssize_t n = waitReadable(socket, stop_[0]) ? ::recv(socket, block, sizeof block, 0) : 0;
        got.append(block, n > 0 ? static_cast<std::size_t>(n) : 0);
        return n > 0;
    };
    while (!script_.await.empty() && got.find(script_.await) == std::string::npos && readSome()) {
    }
    for (const std::string& b : script_.blocks) {
        // A client that has gone ends the sending; the script goes on regardless.
        for (std::size_t done = 0; done < b.size();) {
            ssize_t n = ::send(socket, b.data() + done, b.size() - done, MSG_NOSIGNAL);
            if (n <= 0)
                break;
            done += static_cast<std::size_t>(n);
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    if (script_.end == readToEnd)
        while (readSome()) {
        }
    if (script_.end == stall)
        waitReadable(-1, stop_[0]);
    if (script_.end == reset) {
        linger l{1, 0};
        ::setsockopt(socket, SOL_SOCKET, SO_LINGER, &l, sizeof l);
    }
    ::close(socket);
    std::lock_guard<std::mutex> lock(mutex_);
    received_.push_back(got);
}

FakePrinter::~FakePrinter()
{
    [[maybe_unused]] auto n = ::write(stop_[1], "x", 1);
    thread_.join();
    ::close(listener_);
    ::close(stop_[0]);
    ::close(stop_[1]);
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
