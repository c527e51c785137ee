// A scripted printer on a loopback port, for the failures no real interpreter
// shows on demand, and a port whose connects hang.
#pragma once

#include <chrono>
#include <cstdint>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include <arpa/inet.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace korrin::test {

inline sockaddr_in loopback(int port)
{
    return {AF_INET, htons(static_cast<std::uint16_t>(port)), {htonl(INADDR_LOOPBACK)}, {}};
}

// A socket listening on a free loopback port.
inline int listener(int& port, int backlog)
{
    int s = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a = loopback(0);
    socklen_t len = sizeof a;
    if (s < 0 || ::bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a) < 0 || ::listen(s, backlog) < 0
        || ::getsockname(s, reinterpret_cast<sockaddr*>(&a), &len) < 0)
        throw std::runtime_error("cannot set up a loopback port");
    port = ntohs(a.sin_port);
    return s;
}

// Each connection, served in turn on the printer's thread, reads until the
// awaited text has come (or the client closes), gets the blocks 50 ms apart,
// then ends as told.
class FakePrinter {
public:
    enum End {
        close,     // at once
        readToEnd, // after reading until the client closes
        stall,     // when the client closes, having read nothing more
        reset,     // with a reset instead of a close
    };

    FakePrinter(std::string await, std::vector<std::string> blocks, End end)
        : await_(std::move(await)), blocks_(std::move(blocks)), end_(end), listener_(listener(port_, 16))
    {
        thread_ = std::thread([this] {
            for (int s; (s = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC)) >= 0;) {
                {
                    std::lock_guard<std::mutex> lock(mutex_);
                    client_ = s;
                }
                serve(s);
            }
        });
    }

    ~FakePrinter()
    {
        {
            // Ends the accept, and a connection stalled on a client gone.
            std::lock_guard<std::mutex> lock(mutex_);
            ::shutdown(listener_, SHUT_RDWR);
            ::shutdown(client_, SHUT_RDWR);
        }
        thread_.join();
        ::close(listener_);
    }

    int port() const { return port_; }

    // What each finished connection sent, in order.
    std::vector<std::string> received() const
    {
        std::lock_guard<std::mutex> lock(mutex_);
        return received_;
    }

private:
    void serve(int socket)
    {
        std::string got;
        auto readSome = [&] {
            char block[4096];
            ssize_t n = ::recv(socket, block, sizeof block, 0);
            got.append(block, n > 0 ? static_cast<std::size_t>(n) : 0);
            return n > 0;
        };
        while (!await_.empty() && got.find(await_) == std::string::npos && readSome()) {
        }
        for (const std::string& b : blocks_) {
            // A client that has gone only ends this block.
            for (std::size_t done = 0; done < b.size();) {
                ssize_t n = ::send(socket, b.data() + done, b.size() - done, MSG_NOSIGNAL);
                if (n <= 0)
                    break;
                done += static_cast<std::size_t>(n);
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        while (end_ == readToEnd && readSome()) {
        }
        for (pollfd p{socket, POLLRDHUP, 0}; end_ == stall && ::poll(&p, 1, -1) <= 0;) {
        }
        if (end_ == reset) {
            linger l{1, 0};
            ::setsockopt(socket, SOL_SOCKET, SO_LINGER, &l, sizeof l);
        }
        std::lock_guard<std::mutex> lock(mutex_);
        ::close(socket);
        client_ = -1;
        received_.push_back(got);
    }

    std::string await_;
    std::vector<std::string> blocks_;
    End end_;
    int port_ = 0;
    int listener_;
    int client_ = -1;
    mutable std::mutex mutex_;
    std::vector<std::string> received_;
    std::thread thread_;
};

// A listener whose accept queue one connection fills: every other connect
// hangs until it times out.
struct StalledPort {
    int port = 0;
    int socket = listener(port, 0);
    int filler = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);

    StalledPort()
    {
        sockaddr_in a = loopback(port);
        if (::connect(filler, reinterpret_cast<sockaddr*>(&a), sizeof a) < 0)
            throw std::runtime_error("cannot fill the accept queue");
    }
    ~StalledPort()
    {
        ::close(filler);
        ::close(socket);
    }
};

} // namespace korrin::test
