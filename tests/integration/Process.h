#pragma once
// Child processes for the tests: started with captured output, always stopped by their owner.
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace zeltest {

struct TProcessResult {
    int ExitCode = -1;  // -1 when ended by a signal
    int Signal = 0;
    bool TimedOut = false;
    std::string Out;
    std::string Err;
};

// Environment changes for the child: a value sets the variable, nullopt removes it.
using TEnvironment = std::vector<std::pair<std::string, std::optional<std::string>>>;

class TChildProcess {
public:
    // Starts args[0] with stdin from /dev/null. ZELHOST_SELECT is removed and QT_QPA_PLATFORM
    // defaults to offscreen, so runs never wait for a person.
    explicit TChildProcess(const std::vector<std::string>& args, const TEnvironment& env = {});
    // Kills the child if it still runs.
    ~TChildProcess();
    TChildProcess(const TChildProcess&) = delete;
    TChildProcess& operator=(const TChildProcess&) = delete;

    // Collects output until stdout holds `needle`; false when it did not within the time.
    bool WaitForOutput(std::string_view needle, int timeoutMs);
    // The next whole line of stdout that no call has returned yet, as soon as it is there; false
    // when none came within the time or the child closed its output.
    bool NextLine(std::string& line, int timeoutMs);
    // -1 once the child has been waited for.
    int Pid() const noexcept { return FPid; }
    // What the child wrote to stdout so far.
    const std::string& Output() const noexcept { return FResult.Out; }
    void Signal(int signal);
    // Collects output until the child ends; after `timeoutMs` it is killed and TimedOut set.
    TProcessResult Wait(int timeoutMs);

private:
    // Reads what is available, waiting at most `timeoutMs`; false when both pipes are closed.
    bool Pump(int timeoutMs);

    int FPid = -1;
    int FOut = -1;
    int FErr = -1;
    TProcessResult FResult;
    size_t FLineStart = 0;
};

TProcessResult RunProcess(const std::vector<std::string>& args, const TEnvironment& env = {}, int timeoutMs = 30000);

// A fresh directory under /tmp, removed with everything in it.
class TTempDir {
public:
    TTempDir();
    ~TTempDir();
    TTempDir(const TTempDir&) = delete;
    TTempDir& operator=(const TTempDir&) = delete;
    const std::string& Path() const noexcept { return FPath; }
    std::string File(std::string_view name) const { return FPath + "/" + std::string(name); }
    // Names of the entries, sorted.
    std::vector<std::string> Entries() const;

private:
    std::string FPath;
};

std::string ReadFile(const std::string& path);
void WriteFile(const std::string& path, std::string_view data);

}  // namespace zeltest
