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
    static const std::regex created(R"(ALL3000 #(\d+): Interface Create)");
    std::vector<int> ids;
    for (std::sregex_iterator it(out.begin(), out.end(), created), end; it != end; ++it) ids.push_back(std::stoi((*it)[1]));
    return ids;
}

}  // namespace

TEST(ZelhostService, EveryInstanceOfTheStoreRunsAndAnEmptyStoreIsAClearError) {
    const std::string empty = "has no instances: add one with zelhost set --store ";
    const struct {
        std::optional<std::string> store;  // "5,1,2": those instances (written out of order); nullopt: no file
        std::vector<std::string> instance;
        std::vector<int> created;  // empty: exit 1 with `empty`, nothing ran, the store left as it was
    } cases[] = {
        {"5,1,2", {}, {1, 2, 5}}, {"5,1,2", {"--instance", "all"}, {1, 2, 5}}, {"5,1,2", {"--instance", "5,2"}, {5, 2}},
        {"5,1,2", {"--instance", "7"}, {7}},  // one the store does not know yet
        {std::nullopt, {}, {}}, {std::nullopt, {"--instance", "all"}, {}}, {"", {}, {}}, {"", {"--instance", "all"}, {}},
        {"<?xml version=\"1.0\"?>\r\n<SettingsStore/>\r\n", {}, {}},
        {"<?xml version=\"1.0\"?>\r\n<SettingsStore/>\r\n", {"--instance", "all"}, {}},
    };
    for (const auto& c : cases) {
        TTempDir dir;
        const std::string store = dir.File("store.xml");
        const bool ids = c.store && c.store->starts_with("5");
        for (const char* id : ids ? std::vector<const char*>{"5", "1", "2"} : std::vector<const char*>{})
            ASSERT_EQ(Zel({"set", "--store", store, "--instance", id, "Settings/IPAddress=127.0.0.1"}).ExitCode, 0);
        if (c.store && !ids) WriteFile(store, *c.store);
        const std::string before = c.store ? ReadFile(store) : "";
        std::vector<std::string> args = {"run", "--module", Module, "--store", store, "--seconds", "0", "--kernel-state", "0"};
        args.insert(args.end(), c.instance.begin(), c.instance.end());
        auto r = Zel(args);
        const std::string row =
            (c.store ? "\"" + c.store->substr(0, 6) + "\"" : "no file") + (c.instance.empty() ? "" : " " + c.instance.back());
        EXPECT_EQ(r.ExitCode, c.created.empty() ? 1 : 0) << row << "\n" << r.Err;
        EXPECT_EQ(CreatedInstances(r.Out), c.created) << row;
        if (c.created.empty()) {
            EXPECT_NE(r.Err.find(empty + store), std::string::npos) << row << ": " << r.Err;
            EXPECT_EQ(r.Out, "") << row << ": nothing ran";
            EXPECT_EQ(dir.Entries(), c.store ? std::vector<std::string>{"store.xml"} : std::vector<std::string>{}) << row;
            EXPECT_EQ(c.store ? ReadFile(store) : "", before) << row << ": the store is left as it was";
        }
    }
}

// Installed with cmake --install, and packaged: the programs, the module where the installed
// zelhost finds it, the unit, and the options that may hold the broker's password readable by
// root only; the package's dependencies from the libraries zelhost links.
TEST(ZelhostService, TheInstallationAndThePackage) {
    TTempDir dir;
    const std::string store = dir.File("store.xml"), prefix = dir.File("usr"), lonely = dir.File("lonely");
    ASSERT_EQ(Zel({"set", "--store", store, "--instance", "1", "Settings/IPAddress=127.0.0.1"}).ExitCode, 0);
    auto install = RunProcess({CMAKE_BIN, "--install", ZEL_BUILD_DIR, "--prefix", prefix}, {}, 60000);
    ASSERT_EQ(install.ExitCode, 0) << install.Out << install.Err;
    std::filesystem::create_directory(lonely);  // zelhost with no module beside it nor in ../lib/zelhost/modules
    std::filesystem::copy_file(prefix + "/bin/zelhost", lonely + "/zelhost");
    for (const auto& [zelhost, message] : {std::pair<std::string, std::string>{ZELHOST_BIN, ""}, {prefix + "/bin/zelhost", ""},
                                           {lonely + "/zelhost", "no module installed at " + lonely + "/IO.ALL3000.so or " +
                                                                     lonely + "/../lib/zelhost/modules/IO.ALL3000.so"}}) {
        auto r = RunProcess({zelhost, "run", "--store", store, "--seconds", "0", "--kernel-state", "0"});
        EXPECT_EQ(r.ExitCode, message.empty() ? 0 : 1) << zelhost << "\n" << r.Err;
        EXPECT_NE(r.Err.find(message), std::string::npos) << r.Err;
        EXPECT_EQ(CreatedInstances(r.Out), message.empty() ? std::vector<int>{1} : std::vector<int>{}) << zelhost;
    }
    struct stat st {};
    ASSERT_EQ(::stat((prefix + "/etc/default/zelhost").c_str(), &st), 0) << "options under the prefix's own etc/";
    EXPECT_EQ(st.st_mode & 0777, 0600u);

    const std::string config = std::string(ZEL_BUILD_DIR) + "/CPackConfig.cmake";
    auto cpack = RunProcess({CPACK_BIN, "-G", "DEB", "--config", config, "-B", dir.File("deb")}, {}, 120000);
    ASSERT_EQ(cpack.ExitCode, 0) << cpack.Out << cpack.Err;
    std::string deb;
    for (const auto& entry : std::filesystem::directory_iterator(dir.File("deb")))
        if (entry.path().extension() == ".deb") deb = entry.path();
    std::set<std::string> files;  // "mode path" of the regular files
    std::istringstream listing(RunProcess({DPKG_DEB_BIN, "-c", deb}).Out);
    for (std::string line; std::getline(listing, line);)
        if (line.starts_with('-')) files.insert(line.substr(0, 11) + line.substr(line.rfind(" ./") + 2));
    EXPECT_EQ(files, (std::set<std::string>{"-rwxr-xr-x /usr/bin/zelhost", "-rwxr-xr-x /usr/bin/all3000-sim",
                                            "-rw-r--r-- /usr/lib/zelhost/modules/IO.ALL3000.so",
                                            "-rw-r--r-- /usr/lib/systemd/system/zelhost.service",
                                            "-rw------- /etc/default/zelhost", "-rw-r--r-- /usr/share/doc/zelhost/README.md"}));
    // A person's edits of the options survive an upgrade.
    EXPECT_EQ(RunProcess({DPKG_DEB_BIN, "-I", deb, "conffiles"}).Out, "/etc/default/zelhost\n");
    const std::string depends = RunProcess({DPKG_DEB_BIN, "-f", deb, "Depends"}).Out;
    std::set<std::string> names;  // "adduser, libc6 (>= 2.34)" -> adduser, libc6
    std::istringstream items(depends);
    for (std::string item; std::getline(items >> std::ws, item, ',');) names.insert(item.substr(0, item.find_first_of(" \n")));
    for (const char* package : {"adduser", "libc6", "libmosquitto1", "libqt6core6", "libqt6widgets6", "libstdc++6"})
        EXPECT_TRUE(names.contains(package)) << package << " missing from: " << depends;
}

TEST(ZelhostService, TheUnitPassesSystemdsCheck) {
    if (std::string(SYSTEMD_ANALYZE_BIN).empty()) GTEST_SKIP() << "no systemd-analyze on this machine";
    TTempDir dir;
    // The check wants ExecStart's program to exist: this build's stands in for the installed one.
    std::string unit = ReadFile(ZELHOST_UNIT);
    const size_t at = unit.find("ExecStart=/usr/bin/zelhost ");
    ASSERT_NE(at, std::string::npos) << "the unit runs the installed zelhost";
    WriteFile(dir.File("zelhost.service"), unit.replace(at + 10, 16, ZELHOST_BIN));
    auto r = RunProcess({SYSTEMD_ANALYZE_BIN, "verify", dir.File("zelhost.service")});
    EXPECT_EQ(r.ExitCode, 0) << r.Out << r.Err;
    EXPECT_EQ(r.Err, "");
}
