// What zelhost as a service relies on: every instance of the store, the module found where it
// was installed, the Debian package and the systemd unit. The module stays off the network
// (kernel state 0), so no box is needed.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <filesystem>
#include <regex>
#include <set>
#include <sstream>

#include "Process.h"
#include "Zelhost.h"

using namespace zeltest;

namespace {

// The instances whose creation the run's readable output shows, in order.
std::vector<int> CreatedInstances(const std::string& out) {
    std::vector<int> ids;
    static const std::regex created(R"(ALL3000 #(\d+): Interface Create)");
    for (auto it = std::sregex_iterator(out.begin(), out.end(), created); it != std::sregex_iterator(); ++it)
        ids.push_back(std::stoi((*it)[1]));
    return ids;
}

}  // namespace

TEST(ZelhostService, WithoutInstanceOrWithAllEveryInstanceOfTheStoreRuns) {
    TTempDir dir;
    const std::string store = dir.File("store.xml");
    // Written out of order: the store keeps them ascending, and so does the run.
    for (const char* id : {"5", "1", "2"})
        ASSERT_EQ(Zel({"set", "--store", store, "--instance", id, "Settings/IPAddress=127.0.0.1"}).ExitCode, 0);
    const struct {
        std::vector<std::string> instance;
        std::vector<int> created;
    } cases[] = {
        {{}, {1, 2, 5}},
        {{"--instance", "all"}, {1, 2, 5}},
        {{"--instance", "5,2"}, {5, 2}},
        {{"--instance", "7"}, {7}},  // one the store does not know yet
    };
    for (const auto& c : cases) {
        std::vector<std::string> args = {"run",  "--module", Module, "--store", store, "--seconds", "0",
                                         "--kernel-state", "0"};
        args.insert(args.end(), c.instance.begin(), c.instance.end());
        auto r = Zel(args);
        EXPECT_EQ(r.ExitCode, 0) << r.Err;
        EXPECT_EQ(CreatedInstances(r.Out), c.created) << (c.instance.empty() ? "no --instance" : c.instance.back());
    }
}

TEST(ZelhostService, EveryInstanceOfAnEmptyStoreIsAClearError) {
    const struct {
        const char* name;
        std::optional<std::string> content;
    } stores[] = {
        {"no store file", std::nullopt},
        {"an empty file", ""},
        {"a store without instances", "<?xml version=\"1.0\"?>\r\n<SettingsStore/>\r\n"},
    };
    for (const auto& s : stores) {
        for (const std::vector<std::string>& instance : {std::vector<std::string>{}, {"--instance", "all"}}) {
            TTempDir dir;
            const std::string store = dir.File("store.xml");
            if (s.content) WriteFile(store, *s.content);
            std::vector<std::string> args = {"run", "--module", Module, "--store", store, "--seconds", "0"};
            args.insert(args.end(), instance.begin(), instance.end());
            auto r = Zel(args);
            EXPECT_EQ(r.ExitCode, 1) << s.name;
            EXPECT_NE(r.Err.find("has no instances: add one with zelhost set --store " + store), std::string::npos)
                << s.name << ": " << r.Err;
            EXPECT_EQ(r.Out, "") << "nothing ran";
            EXPECT_EQ(dir.Entries(), s.content ? std::vector<std::string>{"store.xml"} : std::vector<std::string>{})
                << s.name << ": the store is left as it was";
        }
    }
}

TEST(ZelhostService, WithoutModuleTheOneBesideOrInstalledWithZelhostLoads) {
    TTempDir dir;
    const std::string store = dir.File("store.xml");
    ASSERT_EQ(Zel({"set", "--store", store, "--instance", "1", "Settings/IPAddress=127.0.0.1"}).ExitCode, 0);
    const std::string prefix = dir.File("usr");
    auto install = RunProcess({CMAKE_BIN, "--install", ZEL_BUILD_DIR, "--prefix", prefix}, {}, 60000);
    ASSERT_EQ(install.ExitCode, 0) << install.Out << install.Err;
    // zelhost alone in a folder, no module beside it nor in ../lib/zelhost/modules.
    const std::string lonely = dir.File("lonely");
    std::filesystem::create_directory(lonely);
    std::filesystem::copy_file(prefix + "/bin/zelhost", lonely + "/zelhost");

    const struct {
        std::string zelhost;
        int exitCode;
        std::string message;  // on stderr
    } cases[] = {
        {ZELHOST_BIN, 0, ""},  // the build folder: the module beside it
        {prefix + "/bin/zelhost", 0, ""},
        {lonely + "/zelhost", 1,
         "no module installed at " + lonely + "/IO.ALL3000.so or " + lonely + "/../lib/zelhost/modules/IO.ALL3000.so"},
    };
    for (const auto& c : cases) {
        auto r = RunProcess({c.zelhost, "run", "--store", store, "--seconds", "0", "--kernel-state", "0"});
        EXPECT_EQ(r.ExitCode, c.exitCode) << c.zelhost << "\n" << r.Err;
        EXPECT_NE(r.Err.find(c.message), std::string::npos) << r.Err;
        EXPECT_EQ(CreatedInstances(r.Out), c.exitCode == 0 ? std::vector<int>{1} : std::vector<int>{}) << c.zelhost;
    }
    struct stat st {};
    ASSERT_EQ(::stat((prefix + "/etc/default/zelhost").c_str(), &st), 0) << "options under the prefix's own etc/";
    EXPECT_EQ(st.st_mode & 0777, 0600u) << "it may hold the broker's password";
}

TEST(ZelhostService, ThePackageHoldsTheProgramsTheServiceAndItsDependencies) {
    TTempDir dir;
    auto cpack = RunProcess({CPACK_BIN, "-G", "DEB", "--config", std::string(ZEL_BUILD_DIR) + "/CPackConfig.cmake", "-B",
                             dir.Path()},
                            {}, 120000);
    ASSERT_EQ(cpack.ExitCode, 0) << cpack.Out << cpack.Err;
    std::string deb;
    for (const std::string& entry : dir.Entries())
        if (entry.ends_with(".deb")) deb = dir.File(entry);
    ASSERT_FALSE(deb.empty()) << "no .deb in " << dir.Path();

    // "mode path" of the regular files.
    std::set<std::string> files;
    std::istringstream listing(RunProcess({DPKG_DEB_BIN, "-c", deb}).Out);
    for (std::string line; std::getline(listing, line);)
        if (line.starts_with('-')) files.insert(line.substr(0, 11) + line.substr(line.rfind(" ./") + 2));
    EXPECT_EQ(files, (std::set<std::string>{
                         "-rwxr-xr-x /usr/bin/zelhost",
                         "-rwxr-xr-x /usr/bin/all3000-sim",
                         "-rw-r--r-- /usr/lib/zelhost/modules/IO.ALL3000.so",
                         "-rw-r--r-- /usr/lib/systemd/system/zelhost.service",
                         "-rw------- /etc/default/zelhost",  // it may hold the broker's password
                         "-rw-r--r-- /usr/share/doc/zelhost/README.md",
                     }));

    // A person's edits of the options survive an upgrade.
    EXPECT_EQ(RunProcess({DPKG_DEB_BIN, "-I", deb, "conffiles"}).Out, "/etc/default/zelhost\n");
    const std::string depends = RunProcess({DPKG_DEB_BIN, "-f", deb, "Depends"}).Out;
    // From the libraries zelhost links (shlibdeps), and the maintainer script's adduser.
    std::set<std::string> names;  // "adduser, libc6 (>= 2.34)" -> adduser, libc6
    std::istringstream items(depends);
    for (std::string item; std::getline(items >> std::ws, item, ',');)
        names.insert(item.substr(0, item.find_first_of(" \n")));
    for (const char* package : {"adduser", "libc6", "libmosquitto1", "libqt6core6", "libqt6widgets6", "libstdc++6"})
        EXPECT_TRUE(names.contains(package)) << package << " missing from: " << depends;
}

TEST(ZelhostService, TheUnitPassesSystemdsCheck) {
    if (std::string(SYSTEMD_ANALYZE_BIN).empty()) GTEST_SKIP() << "no systemd-analyze on this machine";
    TTempDir dir;
    // The check wants the program of ExecStart to exist: the one of this build stands in for the
    // installed one.
    std::string unit = ReadFile(ZELHOST_UNIT);
    const std::string installed = "ExecStart=/usr/bin/zelhost ";
    const size_t at = unit.find(installed);
    ASSERT_NE(at, std::string::npos) << "the unit runs the installed zelhost";
    unit.replace(at, installed.size(), std::string("ExecStart=") + ZELHOST_BIN + " ");
    WriteFile(dir.File("zelhost.service"), unit);
    auto r = RunProcess({SYSTEMD_ANALYZE_BIN, "verify", dir.File("zelhost.service")});
    EXPECT_EQ(r.ExitCode, 0) << r.Out << r.Err;
    EXPECT_EQ(r.Err, "");
}
