#include "support/virtualprinter.h"

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

using Clock = std::chrono::steady_clock;

VirtualPrinter::VirtualPrinter(const std::string& program, const std::string& dir, bool ctrlD, const std::string& extra)
    : dir_(dir)
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
    int err = ::open((dir_ + "/vprinter.log").c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if ((pid_ = ::fork()) == 0) {
        ::dup2(out[1], 1);
        ::dup2(err, 2);
        ::execv(argv[0], argv.data());
        _exit(127);
    }
    ::close(out[1]);
    ::close(err);
    // The first line of standard output is the port.
    std::string line;
    auto deadline = Clock::now() + std::chrono::seconds(30);
    for (char c; line.find('\n') == std::string::npos && Clock::now() < deadline;) {
        pollfd p{out[0], POLLIN, 0};
        if (::poll(&p, 1, 200) <= 0)
            continue;
        if (::read(out[0], &c, 1) != 1)
            break;
        line.push_back(c);
    }
    ::close(out[0]);
    if ((port_ = std::atoi(line.c_str())) <= 0) {
        stop();
        throw std::runtime_error("korrin-vprinter did not start: " + log());
    }
}

std::string VirtualPrinter::log() const { return readFile(dir_ + "/vprinter.log"); }

int VirtualPrinter::stop()
{
    if (pid_ <= 0)
        return -1;
    ::kill(pid_, SIGTERM);
    int status = 0;
    pid_t r;
    for (auto deadline = Clock::now() + std::chrono::seconds(20);
         (r = ::waitpid(pid_, &status, WNOHANG)) == 0 && Clock::now() < deadline;)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    if (r == 0) {
        ::kill(pid_, SIGKILL);
        ::waitpid(pid_, &status, 0);
    }
    pid_ = -1;
    return r == 0 ? -1 : WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

} // namespace korrin::test
