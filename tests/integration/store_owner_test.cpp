// One store, one owner: a running host keeps every other zelhost off its store, under any of the
// store's names, and gives the store back when it ends, however it ends.
#include <gtest/gtest.h>

#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <functional>
#include <sys/stat.h>
#include <unistd.h>

#include "Process.h"
#include "Zelhost.h"

using namespace zeltest;

namespace {

// Every command that uses the store, on the store named `store`. Kernel state 0 keeps any
// instance off the network, should one be created after all.
std::vector<std::vector<std::string>> CommandsOn(const std::string& store, const std::string& png) {
    return {
        {"set", "--store", store, "--instance", "3", "Settings/IPAddress=127.0.0.1"},
        {"get", "--store", store, "--instance", "2"},
        {"run", "--module", Module, "--store", store, "--instance", "3", "--seconds", "0", "--kernel-state", "0"},
        {"page", "--module", Module, "--store", store, "--instance", "3", "--kernel-state", "0", "--screenshot", png},
    };
}

}  // namespace

// Whoever may write the folder could link the lock file to a file of the user's, which the pid
// would overwrite; a FIFO or a device as the store would make a reader wait or read without end.
// Every command refuses them at once and changes nothing.
TEST(ZelhostStoreOwner, ALinkAtTheLockFileAndAStoreThatIsNoFileAreRefused) {
    // how the case is made from an empty store beside mine.txt | the error, @ standing for the store
    const std::pair<std::function<int(const std::string&)>, std::string> cases[] = {
        {[](const std::string& s) { return ::symlink("mine.txt", (s + ".lock").c_str()); },
         "cannot lock @: @.lock is a symbolic link, which is never followed; remove it"},
        {[](const std::string& s) { return ::unlink(s.c_str()) | ::mkfifo(s.c_str(), 0600); },
         "cannot read @: it is a FIFO, not a regular file"},
    };
    for (const auto& [make, text] : cases) {
        TTempDir dir;
        const std::string store = dir.File("store.xml");
        WriteFile(store, "<SettingsStore/>");
        WriteFile(dir.File("mine.txt"), "the user's\n");
        ASSERT_EQ(make(store), 0);
        std::string error = "zelhost: " + text + "\n";
        for (size_t at; (at = error.find('@')) != std::string::npos;) error.replace(at, 1, store);
        const auto before = dir.Entries();
        for (auto args : CommandsOn(store, dir.File("page.png"))) {
            args.insert(args.begin(), Zelhost);
            auto r = RunProcess(args, {}, 5000);  // a wait for a FIFO would end here
            EXPECT_EQ(r.Err, error) << args[1];
            EXPECT_EQ(dir.Entries(), before) << args[1];
            EXPECT_EQ(ReadFile(dir.File("mine.txt")), "the user's\n") << args[1];
        }
    }
}

TEST(ZelhostStoreOwner, ARunKeepsOthersOffItsStoreUntilItEndsHoweverItEnds) {
    for (int sig : {SIGTERM, SIGKILL}) {
        SCOPED_TRACE(strsignal(sig));
        TTempDir dir;
        const std::string store = dir.File("store.xml");
        const std::string link = dir.File("link.xml");
        ASSERT_EQ(::symlink("store.xml", link.c_str()), 0);
        ASSERT_EQ(Zel({"set", "--store", store, "--instance", "2", "Settings/IPAddress=127.0.0.1"}).ExitCode, 0);
        const std::string before = ReadFile(store);
        // Settings refused, so the host itself never writes the store while others try.
        TChildProcess host({Zelhost, "run", "--module", Module, "--store", store, "--instance", "1", "--jsonl",
                            "--kernel-state", "0", "--refuse", "settings"});
        // The host takes the store before it prints anything.
        ASSERT_TRUE(host.WaitForOutput("\n", 20000));
        EXPECT_EQ(ReadFile(store + ".lock"), std::to_string(host.Pid()) + "\n") << "for a person who looks";
        for (const std::string& name : {store, link}) {
            const std::string inUse = "zelhost: " + name + " is in use by zelhost, pid " + std::to_string(host.Pid()) + "\n";
            for (const auto& args : CommandsOn(name, dir.File("page.png"))) {
                auto r = Zel(args);
                EXPECT_EQ(r.ExitCode, 1) << args[0] << " " << name;
                EXPECT_EQ(r.Err, inUse) << args[0];
                EXPECT_EQ(r.Out, "") << args[0];
            }
        }
        EXPECT_EQ(ReadFile(store), before);

        host.Signal(sig);
        auto ended = host.Wait(20000);
        ASSERT_FALSE(ended.TimedOut);
        EXPECT_EQ(ended.Signal, sig == SIGKILL ? SIGKILL : 0) << ended.Err;
        // A killed host leaves its lock file behind; the lock itself went with the process.
        std::vector<std::string> left = {"link.xml", "store.xml"};
        if (sig == SIGKILL) left.push_back("store.xml.lock");
        EXPECT_EQ(dir.Entries(), left);
        for (const char* value : {"Settings/A=1", "Settings/B=2"}) {
            auto set = Zel({"set", "--store", link, "--instance", "3", value});
            EXPECT_EQ(set.ExitCode, 0) << set.Err;
        }
        EXPECT_EQ(Zel({"get", "--store", store, "--instance", "3"}).Out, "Settings/A=1\nSettings/B=2\n");
        EXPECT_EQ(Zel({"get", "--store", store, "--instance", "2"}).Out, "Settings/IPAddress=127.0.0.1\n");
        EXPECT_EQ(dir.Entries(), (std::vector<std::string>{"link.xml", "store.xml"}));
    }
}

TEST(ZelhostStoreOwner, AFolderNobodyMayWriteToStillServesGet) {
    // Root may write anywhere, so root runs the commands as nobody.
    std::vector<std::string> prefix = {Zelhost};
    if (::geteuid() == 0) {
        if (::access("/usr/bin/setpriv", X_OK) != 0) GTEST_SKIP() << "running as root without setpriv";
        prefix.insert(prefix.begin(), {"/usr/bin/setpriv", "--reuid=65534", "--regid=65534", "--clear-groups"});
    }
    auto zel = [&](std::vector<std::string> args) {
        args.insert(args.begin(), prefix.begin(), prefix.end());
        return RunProcess(args);
    };
    TTempDir dir;
    const std::string store = dir.File("store.xml");
    ASSERT_EQ(Zel({"set", "--store", store, "--instance", "1", "Settings/IPAddress=127.0.0.1"}).ExitCode, 0);
    const std::string before = ReadFile(store);
    auto expectGet = [&] {
        auto get = zel({"get", "--store", store, "--instance", "1"});
        EXPECT_EQ(get.ExitCode, 0) << get.Err;
        EXPECT_EQ(get.Out, "Settings/IPAddress=127.0.0.1\n");
    };
    ASSERT_EQ(::chmod(dir.Path().c_str(), 0555), 0);

    expectGet();
    auto set = zel({"set", "--store", store, "--instance", "1", "Settings/IPAddress=127.0.0.2"});
    EXPECT_EQ(set.ExitCode, 1);
    EXPECT_EQ(set.Err, "zelhost: cannot lock " + store + ": cannot create " + store + ".lock: Permission denied\n");

    // A host's lock file: while it runs, the reader still sees who holds the store; after a kill,
    // the reader takes the file as it is.
    ASSERT_EQ(::chmod(dir.Path().c_str(), 0700), 0);
    TChildProcess host({Zelhost, "run", "--module", Module, "--store", store, "--instance", "1", "--jsonl",
                        "--kernel-state", "0", "--refuse", "settings"});
    ASSERT_TRUE(host.WaitForOutput("\n", 20000));
    ASSERT_EQ(::chmod(dir.Path().c_str(), 0555), 0);
    auto held = zel({"get", "--store", store, "--instance", "1"});
    EXPECT_EQ(held.ExitCode, 1);
    EXPECT_EQ(held.Err, "zelhost: " + store + " is in use by zelhost, pid " + std::to_string(host.Pid()) + "\n");
    host.Signal(SIGKILL);
    ASSERT_FALSE(host.Wait(20000).TimedOut);
    expectGet();

    ::chmod(dir.Path().c_str(), 0700);
    EXPECT_EQ(ReadFile(store), before);
    EXPECT_EQ(dir.Entries(), (std::vector<std::string>{"store.xml", "store.xml.lock"}));
}

// Readers share a store, a writer has it alone. Here the test itself is a reader, on a lock file
// that replaced the one a running host holds (removed by hand, say): later owners meet at the new
// file, and the host, when it ends, leaves that file alone.
TEST(ZelhostStoreOwner, ReadersShareTheStoreAndAReplacedLockFileIsNotTheHosts) {
    TTempDir dir;
    const std::string store = dir.File("store.xml");
    const std::string lockFile = store + ".lock";
    const std::vector<std::string> set = {"set", "--store", store, "--instance", "1", "Settings/IPAddress=127.0.0.1"};
    ASSERT_EQ(Zel(set).ExitCode, 0);
    TChildProcess host({Zelhost, "run", "--module", Module, "--store", store, "--instance", "2", "--jsonl",
                        "--kernel-state", "0", "--refuse", "settings"});
    ASSERT_TRUE(host.WaitForOutput("\n", 20000));
    ASSERT_EQ(::unlink(lockFile.c_str()), 0);
    // Closing any descriptor of this file would drop the lock: nothing here reads it.
    const int fd = ::open(lockFile.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
    ASSERT_GE(fd, 0);
    struct flock shared {};
    shared.l_type = F_RDLCK;
    shared.l_whence = SEEK_SET;
    ASSERT_EQ(::fcntl(fd, F_SETLK, &shared), 0);

    auto get = Zel({"get", "--store", store, "--instance", "1"});
    EXPECT_EQ(get.ExitCode, 0) << get.Err;
    EXPECT_EQ(get.Out, "Settings/IPAddress=127.0.0.1\n");
    auto refused = Zel(set);
    EXPECT_EQ(refused.ExitCode, 1);
    EXPECT_EQ(refused.Err, "zelhost: " + store + " is in use by zelhost, pid " + std::to_string(::getpid()) + "\n");

    host.Signal(SIGTERM);
    auto ended = host.Wait(20000);
    EXPECT_EQ(ended.ExitCode, 0) << ended.Err;
    EXPECT_EQ(dir.Entries(), (std::vector<std::string>{"store.xml", "store.xml.lock"}));
    ::close(fd);
    EXPECT_EQ(Zel(set).ExitCode, 0);
    EXPECT_EQ(dir.Entries(), std::vector<std::string>{"store.xml"});
}
