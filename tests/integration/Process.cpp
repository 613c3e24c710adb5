#include "Process.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <poll.h>
#include <stdexcept>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace zeltest {

namespace {

std::vector<std::string> ChildEnvironment(const TEnvironment& changes) {
    TEnvironment all = {{"ZELHOST_SELECT", std::nullopt}};
    if (!std::getenv("QT_QPA_PLATFORM")) all.push_back({"QT_QPA_PLATFORM", "offscreen"});
    all.insert(all.end(), changes.begin(), changes.end());
    std::vector<std::string> env;
    for (char** e = environ; *e; ++e) env.emplace_back(*e);
    for (const auto& change : all) {
        std::string prefix = change.first + "=";
        std::erase_if(env, [&](const std::string& s) { return s.starts_with(prefix); });
        if (change.second) env.push_back(prefix + *change.second);
    }
    return env;
}

}  // namespace

TChildProcess::TChildProcess(const std::vector<std::string>& args, const TEnvironment& env) {
    std::vector<std::string> envStrings = ChildEnvironment(env);
    std::vector<char*> argv, envp;
    for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    for (const auto& e : envStrings) envp.push_back(const_cast<char*>(e.c_str()));
    envp.push_back(nullptr);
    int out[2], err[2];
    if (::pipe2(out, O_CLOEXEC) != 0 || ::pipe2(err, O_CLOEXEC) != 0) throw std::runtime_error("pipe failed");
    FPid = ::fork();
    if (FPid < 0) throw std::runtime_error("fork failed");
    if (FPid == 0) {
        // Only async-signal-safe calls between fork and exec.
        int devNull = ::open("/dev/null", O_RDONLY);
        ::dup2(devNull, 0);
        ::dup2(out[1], 1);
        ::dup2(err[1], 2);
        ::execve(argv[0], argv.data(), envp.data());
        ::_exit(127);
    }
    ::close(out[1]);
    ::close(err[1]);
    FOut = out[0];
    FErr = err[0];
}

TChildProcess::~TChildProcess() {
    if (FPid > 0) {
        ::kill(FPid, SIGKILL);
        ::waitpid(FPid, nullptr, 0);
    }
    if (FOut >= 0) ::close(FOut);
    if (FErr >= 0) ::close(FErr);
}

bool TChildProcess::Pump(int timeoutMs) {
    pollfd fds[2] = {{FOut, POLLIN, 0}, {FErr, POLLIN, 0}};
    if (FOut < 0 && FErr < 0) return false;
    int n = ::poll(fds, 2, timeoutMs);
    if (n <= 0) return true;
    auto drain = [](int& fd, short revents, std::string& into) {
        if (fd < 0 || !(revents & (POLLIN | POLLHUP | POLLERR))) return;
        char buf[4096];
        ssize_t got = ::read(fd, buf, sizeof buf);
        if (got > 0) {
            into.append(buf, static_cast<size_t>(got));
        } else if (got == 0 || errno != EINTR) {
            ::close(fd);
            fd = -1;
        }
    };
    drain(FOut, fds[0].revents, FResult.Out);
    drain(FErr, fds[1].revents, FResult.Err);
    return FOut >= 0 || FErr >= 0;
}

bool TChildProcess::WaitForOutput(std::string_view needle, int timeoutMs) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (FResult.Out.find(needle) == std::string::npos) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0 || !Pump(static_cast<int>(left.count()))) return FResult.Out.find(needle) != std::string::npos;
    }
    return true;
}

bool TChildProcess::NextLine(std::string& line, int timeoutMs) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    size_t end;
    while ((end = FResult.Out.find('\n', FLineStart)) == std::string::npos) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0 || !Pump(static_cast<int>(left.count()))) return false;
    }
    line = FResult.Out.substr(FLineStart, end - FLineStart);
    FLineStart = end + 1;
    return true;
}

void TChildProcess::Signal(int signal) {
    if (FPid > 0) ::kill(FPid, signal);
}

TProcessResult TChildProcess::Wait(int timeoutMs) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) {
            FResult.TimedOut = true;
            ::kill(FPid, SIGKILL);
            break;
        }
        const bool open = Pump(static_cast<int>(std::min<int64_t>(left.count(), 100)));
        int status = 0;
        // The end of the child itself, not of its pipes: a process it started may hold them for
        // long after (wine starts its services so).
        if (::waitpid(FPid, &status, WNOHANG) == FPid) {
            FPid = -1;
            // What it wrote before it ended waits in the pipes.
            for (size_t seen = SIZE_MAX; seen != FResult.Out.size() + FResult.Err.size();) {
                seen = FResult.Out.size() + FResult.Err.size();
                if (!Pump(0)) break;
            }
            if (WIFEXITED(status)) FResult.ExitCode = WEXITSTATUS(status);
            if (WIFSIGNALED(status)) FResult.Signal = WTERMSIG(status);
            return FResult;
        }
        if (!open) ::usleep(10000);
    }
    int status = 0;
    ::waitpid(FPid, &status, 0);
    FPid = -1;
    if (WIFSIGNALED(status)) FResult.Signal = WTERMSIG(status);
    return FResult;
}

TProcessResult RunProcess(const std::vector<std::string>& args, const TEnvironment& env, int timeoutMs) {
    TChildProcess child(args, env);
    return child.Wait(timeoutMs);
}

TTempDir::TTempDir() {
    char name[] = "/tmp/zelhost-test-XXXXXX";
    if (!::mkdtemp(name)) throw std::runtime_error("mkdtemp failed");
    FPath = name;
}

TTempDir::~TTempDir() {
    std::error_code ignored;
    std::filesystem::remove_all(FPath, ignored);
}

std::vector<std::string> TTempDir::Entries() const {
    std::vector<std::string> names;
    for (const auto& e : std::filesystem::directory_iterator(FPath)) names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void WriteFile(const std::string& path, std::string_view data) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(data.data(), static_cast<std::streamsize>(data.size()));
}

}  // namespace zeltest
