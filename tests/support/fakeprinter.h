// A scripted printer on a loopback port, for the failure paths that no real
// interpreter shows on demand: probe answers with or without 0x04, replies in
// chosen blocks, markers split across blocks, early closes, resets, stalls.
// Each accepted connection runs the script in turn, one at a time, on the
// printer's own thread.
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
    class Connection {
    public:
        Connection(int socket, int stopSignal) : socket_(socket), stop_(stopSignal) {}
        // Sends bytes as one write; the client may still read them in pieces.
        void send(const std::string& bytes);
        // Sends each block separately, with a short pause between them so
        // the client reads them as separate blocks.
        void sendBlocks(const std::vector<std::string>& blocks);
        // Reads until what was received contains the text, the client closes
        // its side, or the printer stops. True when the text was seen.
        bool readUntil(const std::string& text);
        // Reads until the client closes its side or the printer stops.
        void readToEnd();
        // Ends the connection at once with a reset instead of a close.
        void reset();
        // Waits, reading nothing, until the printer is destroyed.
        void stall();
        // Everything read so far.
        const std::string& received() const { return received_; }

    private:
        friend class FakePrinter;
        bool readSome();
        int socket_;
        int stop_;
        std::string received_;
    };

    using Script = std::function<void(Connection&, int index)>;

    explicit FakePrinter(Script script);
    ~FakePrinter();
    FakePrinter(const FakePrinter&) = delete;
    FakePrinter& operator=(const FakePrinter&) = delete;

    int port() const { return port_; }
    int connections() const { return accepted_; }
    // What the script read from each connection so far, in order.
    std::vector<std::string> received() const;

private:
    void serve();

    Script script_;
    int listener_ = -1;
    int stopPipe_[2] = {-1, -1};
    int port_ = 0;
    std::atomic<int> accepted_{0};
    mutable std::mutex mutex_;
    std::vector<std::string> received_;
    std::thread thread_;
};

// A loopback port that is bound but not listening: every connect is refused,
// and no one else gets the port while this object lives.
class RefusingPort {
public:
    RefusingPort();
    ~RefusingPort();
    RefusingPort(const RefusingPort&) = delete;
    RefusingPort& operator=(const RefusingPort&) = delete;
    int port() const { return port_; }

private:
    int socket_ = -1;
    int port_ = 0;
};

// A loopback listener whose accept queue is full, so a connect to it hangs
// until it times out.
class StalledListener {
public:
    StalledListener();
    ~StalledListener();
    StalledListener(const StalledListener&) = delete;
    StalledListener& operator=(const StalledListener&) = delete;
    int port() const { return port_; }

private:
    int listener_ = -1;
    int filler_ = -1;
    int port_ = 0;
};

// The number of open descriptors of this process.
int OpenDescriptors();

} // namespace korrin::test
