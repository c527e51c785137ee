#include "interpreter.h"

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstring>
#include <stdexcept>
#include <thread>

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

namespace korrin::vprinter {

namespace {

std::string describeStatus(int status)
{
    if (WIFEXITED(status))
        return "exit status " + std::to_string(WEXITSTATUS(status));
    if (WIFSIGNALED(status))
        return std::string("signal ") + strsignal(WTERMSIG(status));
    return "status " + std::to_string(status);
}

} // namespace

void Interpreter::start(const std::string& outputFile)
{
    int toChild[2], fromChild[2];
    if (::pipe2(toChild, O_CLOEXEC) < 0)
        throw std::runtime_error(std::string("pipe: ") + std::strerror(errno));
    if (::pipe2(fromChild, O_CLOEXEC) < 0) {
        ::close(toChild[0]);
        ::close(toChild[1]);
        throw std::runtime_error(std::string("pipe: ") + std::strerror(errno));
    }
    std::vector<std::string> args = {
        setup_.program,
        "-q",
        "-dJOBSERVER",
        "-dNOPAUSE",
        "-dSAFER",
        // Jobs write the disk's fonts and resources by relative names.
        "--permit-file-all=fonts/*",
        "--permit-file-all=Resource/*",
        // It reads the spool files of job data and deletes each once read.
        "--permit-file-read=" + setup_.spoolDir + "/*",
        "--permit-file-control=" + setup_.spoolDir + "/*",
        // It looks up which of the disk's resources are Ghostscript's own.
        "--permit-file-read=" + setup_.ghostscriptResources + "/*",
        "-sGenericResourceDir=" + setup_.resourceDir + "/",
        "-sDEVICE=" + setup_.device,
        "-sOutputFile=" + outputFile,
        "-sVPToken=" + setup_.token,
        "-sVPResources=" + setup_.ghostscriptResources,
    };
    if (setup_.device == "png16m")
        args.push_back("-r72");
    args.push_back(setup_.driverPath);
    std::vector<char*> argv;
    for (auto& a : args)
        argv.push_back(a.data());
    argv.push_back(nullptr);

    pid_t pid = ::fork();
    if (pid < 0) {
        for (int fd : {toChild[0], toChild[1], fromChild[0], fromChild[1]})
            ::close(fd);
        throw std::runtime_error(std::string("fork: ") + std::strerror(errno));
    }
    if (pid == 0) {
        ::dup2(toChild[0], 0);
        ::dup2(fromChild[1], 1);
        if (::chdir(setup_.diskDir.c_str()) < 0)
            _exit(126);
        ::execvp(argv[0], argv.data());
        _exit(127);
    }
    ::close(toChild[0]);
    ::close(fromChild[1]);
    pid_ = pid;
    in_ = toChild[1];
    out_ = fromChild[0];
    ::fcntl(out_, F_SETFL, ::fcntl(out_, F_GETFL) | O_NONBLOCK);
}

bool Interpreter::control(const std::string& line)
{
    std::size_t done = 0;
    while (done < line.size()) {
        ssize_t n = ::write(in_, line.data() + done, line.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        done += static_cast<std::size_t>(n);
    }
    return true;
}

std::string Interpreter::exited()
{
    if (pid_ <= 0)
        return "not running";
    int status = 0;
    pid_t r = ::waitpid(pid_, &status, WNOHANG);
    if (r == 0)
        return {};
    pid_ = -1;
    ::close(in_);
    ::close(out_);
    in_ = out_ = -1;
    return r < 0 ? std::string(std::strerror(errno)) : describeStatus(status);
}

void Interpreter::stop()
{
    if (pid_ <= 0)
        return;
    ::close(in_); // the driver quits at the end of its input
    in_ = -1;
    auto waitFor = [this](std::chrono::milliseconds limit) {
        auto end = std::chrono::steady_clock::now() + limit;
        while (std::chrono::steady_clock::now() < end) {
            if (::waitpid(pid_, nullptr, WNOHANG) != 0)
                return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        return false;
    };
    if (!waitFor(std::chrono::milliseconds(2000))) {
        ::kill(pid_, SIGTERM);
        if (!waitFor(std::chrono::milliseconds(2000))) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, nullptr, 0);
        }
    }
    ::close(out_);
    out_ = -1;
    pid_ = -1;
}

} // namespace korrin::vprinter
