// A scripted printer on a loopback port, for the failures no real interpreter
// shows on demand: chosen reply blocks, early closes, resets, stalls. Each
// accepted connection runs the script in turn on the printer's own thread.
#pragma once

#include <atomic>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace korrin::test {

class FakePrinter {
public:
    // One accepted connection, as the script sees it.
    struct Connection {
        int socket;
        int stop; // readable once the printer is being destroyed
        std::string received;

        void send(const std::string& bytes); // one write
        // Each block on its own, 50 ms apart, so the client reads them apart.
        void sendBlocks(const std::vector<std::string>& blocks);
        // Reads until the text has come (true), the client closes or the
        // printer stops; an empty text reads to the end.
        bool readUntil(const std::string& text);
        void readToEnd() { readUntil(""); }
        void reset(); // ends the connection with a reset instead of a close
        void stall(); // reads nothing until the printer goes
    };
    using Script = std::function<void(Connection&)>;

    explicit FakePrinter(Script script);
    ~FakePrinter();

    int port() const { return port_; }
    int connections() const { return accepted_; }
    // What the script read from each finished connection, in order.
    std::vector<std::string> received() const;

private:
    Script script_;
    int listener_ = -1;
    int stopPipe_[2] = {-1, -1};
    int port_ = 0;
    std::atomic<int> accepted_{0};
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
