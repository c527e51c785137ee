// korrin-vprinter: a network PostScript printer on a loopback port. Each job
// that arrives on a connection runs in one long-lived Ghostscript process (see
// interpreter.h and driver.ps); its output goes back on the connection as it
// is produced. Jobs run one at a time, in the order they arrive.
//
//   korrin-vprinter --port P --dir DIR [--ctrl-d | --no-ctrl-d] [--pages pdf|png]
//
// In control-D mode a 0x04 from the client ends a job and the printer answers
// each job with a 0x04 after its output; in pass-through mode the 0x04 reaches
// the interpreter and the end of the connection ends the job. DIR holds the
// printer's disk (disk/, shown to jobs as %disk0%), its pages (pages/) and its
// spool (.spool/). One line per job goes to standard error.
//
// What it does not do as a printer would: it has one disk only (%disk0%),
// whose %disk0% prefix is understood by file, deletefile, renamefile, status,
// run, filenameforall, devforall and currentdevparams (a job that calls
// systemdict's operators directly sees Ghostscript's own); any startjob
// password is accepted; it speaks no PJL and knows no UEL; the job's
// currentfile is a filter, so fileposition and setfileposition fail on it;
// one connection is served at a time, and one that sends nothing for
// --idle-timeout seconds has its job ended.
#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <deque>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <random>
#include <stdexcept>
#include <string>
#include <thread>

#include <CLI/CLI.hpp>
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include "disk.h"
#include "driver.h"
#include "interpreter.h"
#include "sentinel.h"

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace korrin::vprinter {

namespace {

int signalPipe[2] = {-1, -1};

void onTerminate(int)
{
    int saved = errno;
    [[maybe_unused]] auto n = ::write(signalPipe[1], "t", 1);
    errno = saved;
}

void log(const std::string& line)
{
    std::cerr << "vprinter: " << line << std::endl;
}

std::string randomToken()
{
    std::random_device device;
    char text[40];
    std::snprintf(text, sizeof text, "%%%%vprinter-end-%08x%08x", device(), device());
    return text;
}

struct Options {
    int port = 0;
    std::string dir;
    bool ctrlD = true;
    std::string pages = "pdf";
    std::string gs = "gs";
    std::string gsResources;
    int diskMiB = 64;
    int idleSeconds = 120; // a client that sends nothing for this long ends its job
    int jobSeconds = 600;  // a job still running this long after its input ended is killed
};

// A descriptor closed when it goes out of scope.
struct Descriptor {
    int fd = -1;
    Descriptor() = default;
    explicit Descriptor(int f) : fd(f) {}
    ~Descriptor() { reset(); }
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    void reset(int f = -1)
    {
        if (fd != -1)
            ::close(fd);
        fd = f;
    }
};

class Printer {
public:
    explicit Printer(Options o) : options_(std::move(o)), scanner_("") {}
    int run();

private:
    void prepare();
    void startInterpreter();
    bool serve(int client, const std::string& peer);
    enum class JobEnd { done, clientGone, interpreterDied, stopping };
    JobEnd runJob(int client, std::string& input, bool& inputEnded, const std::string& peer);

    Options options_;
    fs::path dir_, disk_, spool_, pages_;
    unsigned long chunks_ = 0;
    std::string token_;
    std::unique_ptr<Interpreter> gs_;
    SentinelScanner scanner_;
    long pageCount_ = 0;
    int restarts_ = 0;
    long jobs_ = 0;
};

void Printer::prepare()
{
    dir_ = fs::absolute(options_.dir);
    disk_ = dir_ / "disk";
    spool_ = dir_ / ".spool";
    pages_ = dir_ / "pages";
    fs::create_directories(disk_ / "fonts");
    fs::create_directories(spool_);
    fs::create_directories(pages_);
    std::string resources = options_.gsResources.empty() ? ghostscriptResources(options_.gs) : options_.gsResources;
    prepareResources(disk_ / "Resource", resources);
    for (const auto& old : fs::directory_iterator(spool_))
        fs::remove(old.path());
    std::ofstream driver(spool_ / "driver.ps", std::ios::binary | std::ios::trunc);
    driver << driverProgram;
    if (!driver.flush())
        throw std::runtime_error("cannot write the driver into " + spool_.string());
    token_ = randomToken();
    scanner_ = SentinelScanner(token_);
    InterpreterSetup setup;
    setup.program = options_.gs;
    setup.diskDir = disk_.string();
    setup.resourceDir = (disk_ / "Resource").string();
    setup.ghostscriptResources = resources;
    setup.spoolDir = spool_.string();
    setup.driverPath = (spool_ / "driver.ps").string();
    setup.device = options_.pages == "png" ? "png16m" : "pdfwrite";
    setup.token = token_;
    gs_ = std::make_unique<Interpreter>(setup);
}

void Printer::startInterpreter()
{
    // Each interpreter numbers its pages from 1, so a restarted one writes
    // into a folder of its own.
    fs::path folder = restarts_ == 0 ? pages_ : pages_ / ("restart-" + std::to_string(restarts_));
    fs::create_directories(folder);
    std::string ext = options_.pages == "png" ? ".png" : ".pdf";
    gs_->start((folder / ("page-%05d" + ext)).string());
    pageCount_ = 0;
    scanner_.reset();
}

int Printer::run()
{
    prepare();
    int listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    Descriptor listenerGuard(listener);
    int on = 1;
    ::setsockopt(listener, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(static_cast<std::uint16_t>(options_.port));
    socklen_t length = sizeof address;
    if (::bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address) < 0 || ::listen(listener, 16) < 0
        || ::getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length) < 0)
        throw std::runtime_error("cannot listen on 127.0.0.1:" + std::to_string(options_.port) + ": " + std::strerror(errno));
    startInterpreter();
    int port = ntohs(address.sin_port);
    log("listening on 127.0.0.1:" + std::to_string(port) + ", " + (options_.ctrlD ? "control-D" : "pass-through")
        + " mode, printer folder " + dir_.string());
    std::cout << port << std::endl;

    for (;;) {
        pollfd p[2] = {{listener, POLLIN, 0}, {signalPipe[0], POLLIN, 0}};
        if (::poll(p, 2, 1000) < 0 && errno != EINTR)
            throw std::runtime_error(std::string("poll: ") + std::strerror(errno));
        if (p[1].revents & POLLIN)
            break;
        std::string status = gs_->exited();
        if (!status.empty()) {
            log("interpreter exited (" + status + "); restarting it");
            ++restarts_;
            startInterpreter();
        }
        if (!(p[0].revents & POLLIN))
            continue;
        sockaddr_in peerAddress{};
        socklen_t peerLength = sizeof peerAddress;
        int client = ::accept4(listener, reinterpret_cast<sockaddr*>(&peerAddress), &peerLength, SOCK_CLOEXEC | SOCK_NONBLOCK);
        if (client < 0)
            continue;
        Descriptor clientGuard(client);
        char host[INET_ADDRSTRLEN] = {};
        ::inet_ntop(AF_INET, &peerAddress.sin_addr, host, sizeof host);
        std::string peer = std::string(host) + ":" + std::to_string(ntohs(peerAddress.sin_port));
        if (!serve(client, peer))
            break;
    }
    log("stopping");
    gs_->stop();
    return 0;
}

// Runs the connection's jobs. False when the printer is asked to stop.
bool Printer::serve(int client, const std::string& peer)
{
    std::string input; // received and not yet given to a job
    bool inputEnded = false;
    for (;;) {
        // A job starts with its first byte; a connection that ends without
        // one has no job.
        auto idleSince = Clock::now();
        while (input.empty() && !inputEnded) {
            pollfd p[2] = {{client, POLLIN, 0}, {signalPipe[0], POLLIN, 0}};
            ::poll(p, 2, 1000);
            if (p[1].revents & POLLIN)
                return false;
            char block[65536];
            ssize_t n = ::recv(client, block, sizeof block, 0);
            if (n > 0)
                input.append(block, static_cast<std::size_t>(n));
            else if (n == 0 || (errno != EAGAIN && errno != EINTR))
                inputEnded = true;
            else if (Clock::now() - idleSince > std::chrono::seconds(options_.idleSeconds))
                inputEnded = true;
        }
        if (input.empty() && inputEnded)
            return true;
        JobEnd end = runJob(client, input, inputEnded, peer);
        if (end == JobEnd::stopping)
            return false;
        if (end == JobEnd::interpreterDied) {
            std::string status;
            for (int i = 0; i < 200 && (status = gs_->exited()).empty(); ++i)
                std::this_thread::sleep_for(std::chrono::milliseconds(10));
            if (status.empty()) {
                gs_->stop();
                status = "stopped";
            }
            log("interpreter exited (" + status + "); restarting it");
            ++restarts_;
            startInterpreter();
            return true;
        }
        if (end == JobEnd::clientGone || !options_.ctrlD)
            return true;
    }
}

Printer::JobEnd Printer::runJob(int client, std::string& input, bool& inputEnded, const std::string& peer)
{
    const long jobNumber = ++jobs_;
    const std::uintmax_t totalKiB = static_cast<std::uintmax_t>(options_.diskMiB) * 1024;
    const std::uintmax_t usedKiB = (diskUsed(disk_) + 1023) / 1024;
    const std::uintmax_t freeKiB = usedKiB < totalKiB ? totalKiB - usedKiB : 0;
    if (!gs_->control("JOB " + std::to_string(freeKiB) + " " + std::to_string(totalKiB) + "\n"))
        return JobEnd::interpreterDied;

    std::string toJob;    // job bytes not yet in a spool file
    std::string toClient; // output for the client
    std::string rest;     // in control-D mode: what follows the job's 0x04
    std::deque<fs::path> unread; // spool files the interpreter has not taken yet
    bool jobInputEnded = false;  // the job has all its bytes
    bool endSent = false;        // the interpreter was told so
    bool clientWritable = true;
    bool droppedOutput = false;
    unsigned long bytesIn = 0, bytesOut = 0;
    long pages = 0;
    std::string error;
    auto lastInput = Clock::now();
    auto inputEndTime = Clock::now();
    constexpr std::size_t chunkSize = 65535; // the driver's chunk string
    constexpr std::size_t unreadLimit = 8;
    constexpr std::size_t inputLimit = 1 << 20;
    constexpr std::size_t outputLimit = 16 << 20;

    auto endInput = [&] {
        if (!jobInputEnded) {
            jobInputEnded = true;
            inputEndTime = Clock::now();
        }
    };
    auto takeInput = [&](std::string& data) {
        if (jobInputEnded) {
            rest += data;
        } else {
            std::size_t eoj = options_.ctrlD ? data.find('\x04') : std::string::npos;
            std::size_t take = eoj == std::string::npos ? data.size() : eoj;
            toJob.append(data, 0, take);
            bytesIn += take;
            if (eoj != std::string::npos) {
                rest = data.substr(eoj + 1);
                endInput();
            }
        }
        data.clear();
    };
    auto cleanup = [&] {
        for (const auto& f : unread)
            fs::remove(f);
    };
    takeInput(input);
    if (inputEnded)
        endInput();

    bool stopRequested = false;
    auto stopDeadline = Clock::now();
    bool sentinelSeen = false;
    while (!sentinelSeen) {
        // Hand the job its next bytes while the interpreter keeps up.
        while (!unread.empty() && !fs::exists(unread.front()))
            unread.pop_front();
        while (!toJob.empty() && unread.size() < unreadLimit) {
            fs::path chunk = spool_ / ("chunk-" + std::to_string(++chunks_));
            std::size_t n = std::min(toJob.size(), chunkSize);
            {
                std::ofstream f(chunk, std::ios::binary | std::ios::trunc);
                f.write(toJob.data(), static_cast<std::streamsize>(n));
                if (!f.flush())
                    throw std::runtime_error("cannot write " + chunk.string());
            }
            unread.push_back(chunk);
            toJob.erase(0, n);
            if (!gs_->control(chunk.string() + "\n")) {
                cleanup();
                return JobEnd::interpreterDied;
            }
        }
        if (jobInputEnded && toJob.empty() && !endSent) {
            endSent = true;
            if (!gs_->control("END\n")) {
                cleanup();
                return JobEnd::interpreterDied;
            }
        }

        pollfd p[3] = {{stopRequested ? -1 : signalPipe[0], POLLIN, 0}, {gs_->output(), POLLIN, 0}, {-1, 0, 0}};
        // In control-D mode the next job may arrive while this one runs; it waits
        // in rest, up to the same limit.
        bool wantClientInput = !inputEnded && (jobInputEnded ? options_.ctrlD && rest.size() < inputLimit : toJob.size() < inputLimit);
        short clientEvents = static_cast<short>((wantClientInput ? POLLIN : 0) | (clientWritable && !toClient.empty() ? POLLOUT : 0));
        if (clientEvents) {
            p[2].fd = client;
            p[2].events = clientEvents;
        }
        // While the interpreter has spool files to read, look again soon.
        int wait = !toJob.empty() && unread.size() >= unreadLimit ? 2 : 1000;
        if (::poll(p, 3, wait) < 0 && errno != EINTR) {
            cleanup();
            return JobEnd::interpreterDied;
        }
        if ((p[0].revents & POLLIN) && !stopRequested) {
            // Asked to stop: the job gets a moment to finish.
            stopRequested = true;
            stopDeadline = Clock::now() + std::chrono::seconds(5);
        }
        if (stopRequested && Clock::now() > stopDeadline) {
            log("job " + std::to_string(jobNumber) + " from " + peer + ": " + std::to_string(bytesIn)
                + " bytes in, abandoned at shutdown");
            cleanup();
            return JobEnd::stopping;
        }

        if (p[1].revents & (POLLIN | POLLHUP | POLLERR)) {
            char block[65536];
            ssize_t n = ::read(gs_->output(), block, sizeof block);
            if (n == 0 || (n < 0 && errno != EAGAIN && errno != EINTR)) {
                // What the job said before the interpreter went still goes out.
                if (clientWritable)
                    ::send(client, toClient.data(), toClient.size(), MSG_NOSIGNAL);
                log("job " + std::to_string(jobNumber) + " from " + peer + ": " + std::to_string(bytesIn)
                    + " bytes in, " + std::to_string(bytesOut + toClient.size()) + " bytes out, interpreter stopped");
                cleanup();
                return JobEnd::interpreterDied;
            }
            if (n > 0) {
                std::string out = scanner_.feed(block, static_cast<std::size_t>(n));
                if (toClient.size() + out.size() <= outputLimit)
                    toClient += out;
                else
                    droppedOutput = true;
                long totalPages = 0;
                if (scanner_.complete(totalPages, error)) {
                    pages = totalPages - pageCount_;
                    pageCount_ = totalPages;
                    sentinelSeen = true;
                }
            }
        }
        if (p[2].revents & POLLIN) {
            char block[65536];
            ssize_t n = ::recv(client, block, sizeof block, 0);
            if (n > 0) {
                std::string data(block, static_cast<std::size_t>(n));
                takeInput(data);
                lastInput = Clock::now();
            } else if (n == 0 || (errno != EAGAIN && errno != EINTR)) {
                inputEnded = true;
                endInput();
            }
        }
        if (p[2].revents & (POLLOUT | POLLERR | POLLHUP) && clientWritable && !toClient.empty()) {
            ssize_t n = ::send(client, toClient.data(), toClient.size(), MSG_NOSIGNAL);
            if (n > 0) {
                bytesOut += static_cast<unsigned long>(n);
                toClient.erase(0, static_cast<std::size_t>(n));
            } else if (n < 0 && errno != EAGAIN && errno != EINTR) {
                clientWritable = false; // the client has gone; the job runs on
                toClient.clear();
            }
        }
        if (!jobInputEnded && Clock::now() - lastInput > std::chrono::seconds(options_.idleSeconds)) {
            log("job " + std::to_string(jobNumber) + " from " + peer + ": no data for "
                + std::to_string(options_.idleSeconds) + " s; ending the job");
            inputEnded = true;
            endInput();
        }
        if (jobInputEnded && Clock::now() - inputEndTime > std::chrono::seconds(options_.jobSeconds)) {
            log("job " + std::to_string(jobNumber) + " from " + peer + ": still running after "
                + std::to_string(options_.jobSeconds) + " s; stopping the interpreter");
            cleanup();
            gs_->stop();
            return JobEnd::interpreterDied;
        }
    }
    // A job that ended before its input did leaves data behind; in
    // control-D mode the rest of it up to the 0x04 is skipped too.
    cleanup();
    bool flushing = !jobInputEnded;
    for (auto since = Clock::now(); !jobInputEnded && !inputEnded && !stopRequested;) {
        pollfd p[2] = {{client, POLLIN, 0}, {signalPipe[0], POLLIN, 0}};
        ::poll(p, 2, 1000);
        if (p[1].revents & POLLIN)
            return JobEnd::stopping;
        char block[65536];
        ssize_t n = ::recv(client, block, sizeof block, 0);
        if (n > 0) {
            std::string data(block, static_cast<std::size_t>(n));
            toJob.clear();
            takeInput(data);
            since = Clock::now();
        } else if (n == 0 || (errno != EAGAIN && errno != EINTR) || Clock::now() - since > std::chrono::seconds(options_.idleSeconds)) {
            inputEnded = true;
        }
        if (!options_.ctrlD)
            break; // the connection is the job: it ends with the connection anyway
    }

    // The job's output, then in control-D mode the printer's own 0x04.
    if (options_.ctrlD)
        toClient.push_back('\x04');
    auto deadline = Clock::now() + std::chrono::seconds(options_.idleSeconds);
    if (stopRequested)
        deadline = std::min(deadline, stopDeadline);
    while (clientWritable && !toClient.empty() && Clock::now() < deadline) {
        pollfd p[2] = {{client, POLLOUT, 0}, {stopRequested ? -1 : signalPipe[0], POLLIN, 0}};
        ::poll(p, 2, 1000);
        if ((p[1].revents & POLLIN) && !stopRequested) {
            stopRequested = true;
            deadline = std::min(deadline, Clock::now() + std::chrono::seconds(5));
        }
        ssize_t n = ::send(client, toClient.data(), toClient.size(), MSG_NOSIGNAL);
        if (n > 0) {
            bytesOut += static_cast<unsigned long>(n);
            toClient.erase(0, static_cast<std::size_t>(n));
        } else if (n < 0 && errno != EAGAIN && errno != EINTR) {
            clientWritable = false;
        }
    }
    if (options_.ctrlD && bytesOut > 0 && toClient.empty())
        --bytesOut; // the 0x04 is the printer's, not the job's
    log("job " + std::to_string(jobNumber) + " from " + peer + ": " + std::to_string(bytesIn) + " bytes in, "
        + std::to_string(bytesOut) + " bytes out, " + std::to_string(pages) + (pages == 1 ? " page" : " pages")
        + ", error: " + error + (flushing ? " (rest of job skipped)" : "")
        + (droppedOutput ? " (output over 16 MiB dropped)" : ""));
    input = rest;
    if (stopRequested)
        return JobEnd::stopping;
    return clientWritable || !inputEnded ? JobEnd::done : JobEnd::clientGone;
}

} // namespace

} // namespace korrin::vprinter

int main(int argc, char** argv)
{
    using namespace korrin::vprinter;
    Options o;
    CLI::App app("korrin-vprinter: a PostScript printer on a loopback port that runs its jobs in Ghostscript",
                 "korrin-vprinter");
    app.add_option("--port", o.port, "Port on 127.0.0.1; 0 picks a free one, printed on standard output")->required();
    app.add_option("--dir", o.dir, "Folder for the printer's disk, pages and spool")->required();
    bool passThrough = false;
    bool ctrlDFlag = false;
    auto* ctrlD = app.add_flag("--ctrl-d", ctrlDFlag, "A 0x04 ends a job and the printer answers it with 0x04 (the default)");
    app.add_flag("--no-ctrl-d", passThrough, "A 0x04 goes to the interpreter; the connection's end ends the job")->excludes(ctrlD);
    app.add_option("--pages", o.pages, "Format of printed pages, one file per page")->check(CLI::IsMember({"pdf", "png"}));
    app.add_option("--gs", o.gs, "The Ghostscript program");
    app.add_option("--gs-resources", o.gsResources, "Ghostscript's Resource folder (found from its version otherwise)");
    app.add_option("--disk-size", o.diskMiB, "Size of the printer's disk in MiB")->check(CLI::PositiveNumber);
    app.add_option("--idle-timeout", o.idleSeconds, "Seconds without data after which a job's input ends")->check(CLI::PositiveNumber);
    app.add_option("--job-timeout", o.jobSeconds, "Seconds a job may run after its input ended")->check(CLI::PositiveNumber);
    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& e) {
        return app.exit(e) == 0 ? 0 : 2;
    }
    o.ctrlD = !passThrough;

    if (::pipe2(signalPipe, O_CLOEXEC | O_NONBLOCK) < 0)
        return 1;
    struct sigaction action {};
    action.sa_handler = onTerminate;
    sigaction(SIGTERM, &action, nullptr);
    sigaction(SIGINT, &action, nullptr);
    std::signal(SIGPIPE, SIG_IGN);
    try {
        return Printer(o).run();
    } catch (const std::exception& e) {
        std::cerr << "korrin-vprinter: " << e.what() << std::endl;
        return 1;
    }
}
