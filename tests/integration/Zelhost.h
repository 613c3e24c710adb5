#pragma once
// The zelhost and module under test, and running zelhost to its end. By default they are this
// build's; ZELTEST_ZELHOST and ZELTEST_MODULE name others, such as the Windows build's zelhost.exe
// (through a launcher that runs it under wine) and its DLL, which the same cases then exercise
// against this build's simulator. ZELTEST_ZELHOST_WINDOWS set says the host is a Windows program.
#include <csignal>
#include <cstdlib>
#include <string>
#include <vector>

#include "Process.h"

namespace zeltest {

namespace detail {

inline std::string FromEnvironment(const char* name, const char* fallback) {
    const char* value = std::getenv(name);
    return value && *value ? value : fallback;
}

}  // namespace detail

inline const std::string Zelhost = detail::FromEnvironment("ZELTEST_ZELHOST", ZELHOST_BIN);
inline const std::string Module = detail::FromEnvironment("ZELTEST_MODULE", ZELHOST_MODULE);
inline const bool WindowsHost = std::getenv("ZELTEST_ZELHOST_WINDOWS") != nullptr;

// A console program's stop: Ctrl+C on Windows (wine raises it for SIGINT), SIGTERM elsewhere.
inline const int StopSignal = WindowsHost ? SIGINT : SIGTERM;

// Undoes the text mode of a Windows program's output, which writes each "\n" as "\r\n": exactly,
// so a "\r\n" inside a value comes back as it was stored.
inline std::string FromTextMode(const std::string& text) {
    std::string plain;
    plain.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i)
        if (!(text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n')) plain += text[i];
    return plain;
}

// zelhost's result with its output as the same host on Linux would have written it.
inline TProcessResult Plain(TProcessResult r) {
    if (WindowsHost) {
        r.Out = FromTextMode(r.Out);
        r.Err = FromTextMode(r.Err);
    }
    return r;
}

inline TProcessResult Zel(std::vector<std::string> args, const TEnvironment& env = {}) {
    args.insert(args.begin(), Zelhost);
    return Plain(RunProcess(args, env));
}

}  // namespace zeltest
