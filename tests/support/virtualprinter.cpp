#include "support/virtualprinter.h"

#include <cerrno>
#include <chrono>
#include <csignal>
#include <filesystem>
#include <sstream>
#include <stdexcept>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

#include "support/tempdir.h"

namespace korrin::test {

VirtualPrinter::VirtualPrinter(const std::string& program, const std::string& dir, bool ctrlD, const std::string& extra)
    : dir_(dir), logPath_(dir + "/vprinter.log")
{
    std::filesystem::create_directories(dir_);
    std::vector<std::string> args = {program, "--port", "0", "--dir", dir_, ctrlD ? "--ctrl-d" : "--no-ctrl-d"};
    std::istringstream words(extra);
    for (std::string w; words >> w;)
        args.push_back(w);
    std::vector<char*> argv;
    for (auto& a : args)
        argv.push_back(a.data());
    argv.push_back(nullptr);

    int out[2];
    if (::pipe2(out, O_CLOEXEC) < 0)
        throw std::runtime_error("pipe failed");
    int log = ::open(logPath_.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    pid_ = ::fork();
    if (pid_ == 0) {
        ::dup2(out[1], 1);
        ::dup2(log, 2);
        ::execv(argv[0], argv.data());
        _exit(127);
    }
    ::close(out[1]);
    ::close(log);
    // The first line of standard output is the port.
    std::string line;
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (line.find('\n') == std::string::npos && std::chrono::steady_clock::now() < deadline) {
        pollfd p{out[0], POLLIN, 0};
        if (::poll(&p, 1, 200) <= 0)
            continue;
        char c;
        if (::read(out[0], &c, 1) != 1)
            break;
        line.push_back(c);
    }
    ::close(out[0]);
    port_ = std::atoi(line.c_str());
    if (port_ <= 0) {
        stop();
        throw std::runtime_error("korrin-vprinter did not start: " + this->log());
    }
}

VirtualPrinter::~VirtualPrinter()
{
    stop();
}

std::string VirtualPrinter::log() const
{
    return std::filesystem::exists(logPath_) ? readFile(logPath_) : std::string();
}

int VirtualPrinter::stop()
{
    if (pid_ <= 0)
        return -1;
    ::kill(pid_, SIGTERM);
    int status = 0;
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    pid_t r;
    while ((r = ::waitpid(pid_, &status, WNOHANG)) == 0 && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    if (r == 0) {
        ::kill(pid_, SIGKILL);
        ::waitpid(pid_, &status, 0);
        pid_ = -1;
        return -1;
    }
    pid_ = -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

} // namespace korrin::test
