// zelhost: the reference host. See Options.h for the command line.
#include <cstdio>
#include <exception>
#include <string>
#include <vector>

#include "Bridge.h"
#include "HostRun.h"
#include "Options.h"
#include "SettingsStore.h"
#include "StoreOwner.h"
#include "Toolkit.h"

namespace {

using namespace zelhost;

int RunSet(const TSetOptions& options) {
    TStoreOwner owner(options.Store, TStoreOwner::TUse::Write);
    TSettingsStore store(options.Store);
    store.Load();
    for (const TAssignment& a : options.Values) {
        std::vector<std::string_view> path(a.Path.begin(), a.Path.end());
        if (!store.Write(options.Instance, path, a.Key, a.Value))
            throw EStoreError("cannot store " + a.Key);  // names were checked with the arguments
    }
    store.Flush();
    return 0;
}

// Values byte for byte, as stored (Windows-1252): a value with line breaks spans lines.
int RunGet(const TGetOptions& options) {
    TSettingsStore store(options.Store);
    {
        // Only while reading: a slow reader of our output must not keep others off the store.
        TStoreOwner owner(options.Store, TStoreOwner::TUse::Read);
        store.Load();
    }
    for (const TSettingsStore::TValue& v : store.Values(options.Instance)) {
        std::fwrite(v.Key.data(), 1, v.Key.size(), stdout);
        std::fputc('=', stdout);
        std::fwrite(v.Value.data(), 1, v.Value.size(), stdout);
        std::fputc('\n', stdout);
    }
    if (std::fflush(stdout) != 0 || std::ferror(stdout)) {
        std::fprintf(stderr, "zelhost: cannot write the values\n");
        return 1;
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    try {
        TCommandLine cl;
        try {
            cl = ParseCommandLine(std::vector<std::string>(argv + (argc > 0 ? 1 : 0), argv + argc));
        } catch (const EUsage& e) {
            std::fprintf(stderr, "zelhost: %s\n\n%s", e.what(), UsageText());
            return 2;
        }
        switch (cl.Command) {
            case TCommand::Help: std::fputs(UsageText(), stdout); return 0;
            case TCommand::Run:
            case TCommand::Page:
            case TCommand::Detect: return RunHost(cl.Run, MakeToolkit, cl.Run.Mqtt ? MakeMqttBridge : nullptr);
            case TCommand::Set: return RunSet(cl.Set);
            case TCommand::Get: return RunGet(cl.Get);
        }
    } catch (const EUsage& e) {  // an option this build cannot serve
        std::fprintf(stderr, "zelhost: %s\n", e.what());
        return 2;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "zelhost: %s\n", e.what());
    } catch (...) {
        std::fprintf(stderr, "zelhost: unexpected failure\n");
    }
    return 1;
}
