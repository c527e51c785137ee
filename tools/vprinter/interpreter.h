// The long-lived Ghostscript process that runs the virtual printer's jobs.
// It runs our driver program, takes one control line per job on its standard
// input, and writes the jobs' output, each followed by a sentinel line, on its
// standard output. Its standard error is the printer's log.
#pragma once

#include <string>
#include <vector>

#include <sys/types.h>

namespace korrin::vprinter {

struct InterpreterSetup {
    std::string program = "gs";
    std::string diskDir;     // the working directory: the printer's disk
    std::string resourceDir; // the disk's Resource/ folder
    std::string ghostscriptResources; // Ghostscript's own, which it links to
    std::string spoolDir;    // job data and the driver live here
    std::string driverPath;
    std::string outputFile; // page file pattern with %05d
    std::string device;     // pdfwrite or png16m
    std::string token;      // the sentinel's first word
};

class Interpreter {
public:
    explicit Interpreter(InterpreterSetup setup) : setup_(std::move(setup)) {}
    ~Interpreter() { stop(); }
    Interpreter(const Interpreter&) = delete;
    Interpreter& operator=(const Interpreter&) = delete;

    // Starts the process; pages go to the given pattern. Throws
    // std::runtime_error when it cannot be started.
    void start(const std::string& outputFile);
    // Ends the process: end of input first, then SIGTERM, then SIGKILL.
    void stop();
    bool running() const { return pid_ > 0; }
    // Standard output, non-blocking.
    int output() const { return out_; }
    // One line to the driver; false when the interpreter cannot take it.
    bool control(const std::string& line);
    // Collects the process when it has exited: its status as text, or empty
    // while it still runs.
    std::string exited();

private:
    InterpreterSetup setup_;
    pid_t pid_ = -1;
    int in_ = -1;
    int out_ = -1;
};

} // namespace korrin::vprinter
