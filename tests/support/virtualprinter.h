// Runs build/korrin-vprinter for a test: a PostScript printer on a free
// loopback port, with its disk, pages and log in a folder of the test's own.
// Stopped with SIGTERM when the object goes.
#pragma once

#include <string>

#include <sys/types.h>

namespace korrin::test {

class VirtualPrinter {
public:
    // program: the korrin-vprinter executable; dir: the printer's folder
    // (created); extra: more options, e.g. "--pages png". Throws
    // std::runtime_error when the printer does not come up within 30 s.
    VirtualPrinter(const std::string& program, const std::string& dir, bool ctrlD, const std::string& extra = "");
    ~VirtualPrinter();
    VirtualPrinter(const VirtualPrinter&) = delete;
    VirtualPrinter& operator=(const VirtualPrinter&) = delete;

    int port() const { return port_; }
    const std::string& dir() const { return dir_; }
    // The printer's log so far.
    std::string log() const;
    // SIGTERM, then the exit status (-1 when it had to be killed after 20 s).
    int stop();

private:
    std::string dir_;
    std::string logPath_;
    pid_t pid_ = -1;
    int port_ = 0;
};

} // namespace korrin::test
