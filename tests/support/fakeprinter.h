// A scripted printer on a loopback port, for the failures no real interpreter
// shows on demand. Every connection it accepts, one at a time on its own
// thread, follows the script: read until the awaited text has come (or the
// client closes), send the blocks 50 ms apart, then end as told.
#pragma once

#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace korrin::test {

class FakePrinter {
public:
    enum End {
        close,     // at once
        readToEnd, // after reading until the client closes
        stall,     // after reading nothing more until the printer goes
        reset,     // with a reset instead of a close
    };
    struct Script {
        std::string await; // "" reads nothing first
        std::vector<std::string> blocks;
        End end = close;
    };

    explicit FakePrinter(Script script);
    ~FakePrinter();

    int port() const { return port_; }
    // What each finished connection sent, in order.
    std::vector<std::string> received() const;

private:
    void serve(int socket);

    Script script_;
    int listener_ = -1;
    int stop_[2] = {-1, -1}; // readable once the printer is being destroyed
    int port_ = 0;
    mutable std::mutex mutex_;
    std::vector<std::string> received_;
    std::thread thread_;
};

// A loopback port no printer answers: every connect is refused, or, when
// stalled, hangs (a listener whose accept queue is already full) until it
// times out. No one else gets the port while the object lives.
class DeadPort {
public:
    explicit DeadPort(bool stalled);
    ~DeadPort();
    int port() const { return port_; }

private:
    int socket_ = -1;
    int filler_ = -1;
    int port_ = 0;
};

} // namespace korrin::test
