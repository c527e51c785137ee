// The connection to a PostScript printer's raw TCP port. It writes job text,
// reads the printer's reply up to its end, and knows, by a probe it runs once
// per printer name, whether the printer ends jobs with a control-D (0x04) or
// passes that byte to its interpreter.
//
// Every wait is bounded: a connect attempt that does not complete in time
// counts as timed out and is retried like any other, and a reply, a probe
// answer or a write that stalls longer than its limit throws code 8.
#pragma once

#include <memory>
#include <mutex>

#include <netinet/in.h>

#include "core/string.h"
#include "stream/filereader.h"

namespace korrin {

// Time limits of a printer connection, in milliseconds.
struct PrinterTimeouts {
    int connect = 20000; // one connect attempt
    int probe = 30000;   // the answer to the control-D probe
    int reply = 60000;   // each read of a reply
    int write = 60000;   // a printer that stops taking data
};

class TCPIPPrinter : public RWDataStream {
public:
    using Timeouts = PrinterTimeouts;

    static constexpr int bufferSize = 1000;
    static constexpr int timeoutCode = 8;

    // Resolves the name, connects with up to attempts tries, learns the
    // control-D mode (from the cache or by a probe) and, when control-D mode
    // is off, installs the error handler that ends a failed job's reply with
    // the end marker.
    TCPIPPrinter(const char* name, int port, int attempts, const Timeouts& timeouts = Timeouts());
    // As above with the mode given: no probe, the cache is neither read nor
    // written.
    TCPIPPrinter(bool ctrlD, const char* name, int port, int attempts, const Timeouts& timeouts = Timeouts());
    ~TCPIPPrinter() override;
    TCPIPPrinter(const TCPIPPrinter&) = delete;
    TCPIPPrinter& operator=(const TCPIPPrinter&) = delete;

    void init(const char* name, int port);
    void connect();
    bool ProbeCtrlD();

    // The next byte of the reply, or -1 once the reply has ended.
    int read() override;
    int peek() override;
    void write(unsigned char byte) override;
    void write(const unsigned char* data, unsigned length) override;
    // Sends the end-of-job text of the current mode, once.
    void writeeof();
    // A new connection for the next job; the mode is kept, no probe is made.
    void reopen() override;
    void terminate();
    bool CtrlDSupported() const { return ctrlD_; }

    // The probe cache: the last printer name probed and its answer.
    static string NameCached;
    static bool CtrlDCached;
    static std::mutex CtrlDMutex;

private:
    void setup(const char* name, int port, bool probe);
    void fetchBlock();
    int next(bool consume);
    // Sends everything, waiting for room at most the write limit each time.
    // False when a signal interrupted the wait.
    bool sendAll(const unsigned char* data, std::size_t length);
    void installErrorHandler();

    int socket_ = -1;
    sockaddr_in peer_{};
    string name_;
    int attempts_;
    bool ctrlD_ = false;
    bool endWritten_ = false;
    bool endOfReply_ = false;
    std::unique_ptr<unsigned char[]> buffer_;
    int readPosition_ = 0;
    int blockLength_ = 0;
    int markerProgress_ = 0;
    Timeouts timeouts_;
};

} // namespace korrin
