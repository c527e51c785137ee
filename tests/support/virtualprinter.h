// Runs build/korrin-vprinter for a test: a PostScript printer on a free
// loopback port, with its disk, pages and log (vprinter.log) in dir. Stopped
// with SIGTERM when the object goes.
#pragma once

#include <string>

#include <sys/types.h>

namespace korrin::test {

class VirtualPrinter {
public:
    // extra: more options, e.g. "--pages png". Throws std::runtime_error when
    // the printer does not come up within 30 s.
    VirtualPrinter(const std::string& program, const std::string& dir, bool ctrlD, const std::string& extra = "");
    ~VirtualPrinter() { stop(); }

    int port() const { return port_; }
    std::string log() const;
    // SIGTERM, then the exit status (-1 when it had to be killed after 20 s).
    int stop();

private:
    std::string dir_;
    pid_t pid_ = -1;
    int port_ = 0;
};

} // namespace korrin::test
