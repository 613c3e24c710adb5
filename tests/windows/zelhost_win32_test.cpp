// zelhost's Windows side in-process: the loader, the store file, the store's lock and the
// toolkit's loop, each against what the POSIX side promises in the same headers.
#include <gtest/gtest.h>

#include <windows.h>
#include <tlhelp32.h>
#undef E_FAIL
#undef E_NOINTERFACE
#undef E_NOTIMPL
#undef MessageBox
#undef S_OK

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <functional>
#include <optional>
#include <thread>

#include "DynamicLibrary.h"
#include "StoreFile.h"
#include "StoreOwner.h"
#include "Toolkit.h"

using namespace zelhost;
namespace fs = std::filesystem;

namespace {

// A fresh folder of this test's own, removed with everything in it.
class TTempDir {
public:
    TTempDir() : FPath(fs::temp_directory_path() / ("zelhost-test-" + std::to_string(::GetCurrentProcessId()) + "-" + std::to_string(FCount++))) {
        fs::remove_all(FPath);
        fs::create_directories(FPath);
    }
    ~TTempDir() {
        std::error_code ignored;  // a file still open elsewhere must not fail the test's end
        fs::remove_all(FPath, ignored);
    }
    std::string File(const std::string& name) const { return (FPath / name).string(); }
    std::vector<std::string> Entries() const {
        std::vector<std::string> names;
        for (const auto& e : fs::directory_iterator(FPath)) names.push_back(e.path().filename().string());
        std::sort(names.begin(), names.end());
        return names;
    }

private:
    static inline int FCount = 0;
    fs::path FPath;
};

void WriteFile(const std::string& name, const std::string& text) { std::ofstream(name, std::ios::binary) << text; }

// The id of a process that runs beside this one (one of the system's), 0 when none is found.
DWORD OtherLiveProcess() {
    HANDLE snapshot = ::CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snapshot == INVALID_HANDLE_VALUE) return 0;
    PROCESSENTRY32 entry{};
    entry.dwSize = sizeof entry;
    DWORD pid = 0;
    for (BOOL more = ::Process32First(snapshot, &entry); more && !pid; more = ::Process32Next(snapshot, &entry))
        if (entry.th32ProcessID != 0 && entry.th32ProcessID != ::GetCurrentProcessId()) pid = entry.th32ProcessID;
    ::CloseHandle(snapshot);
    return pid;
}

std::string ErrorOf(const std::function<void()>& work) {
    try {
        work();
    } catch (const std::exception& e) {
        return e.what();
    }
    return {};
}

}  // namespace

TEST(ZelhostWin32, LoaderOpensTheNamedFileOnlyAndFindsItsExports) {
    TTempDir dir;
    WriteFile(dir.File("empty.dll"), "");
    const fs::path module = ZEL_FAKE_MODULE;
    fs::copy_file(module, dir.File("elsewhere.dll"));
    const fs::path before = fs::current_path();
    fs::current_path(module.parent_path());  // for the bare name
    ASSERT_TRUE(::SetDllDirectoryA(dir.File("").c_str()));  // where a searching loader would look
    // path | opens | ZELModuleInfo found
    const struct { std::string path; bool opens; bool finds; } cases[] = {
        {module.string(), true, true},
        {module.filename().string(), true, true},  // a bare name: the file in this folder
        {"elsewhere.dll", false, false},           // only in the search path, which is never searched
        {dir.File("empty.dll"), false, false},
    };
    for (const auto& c : cases) {
        TDynamicLibrary library;
        EXPECT_EQ(library.Open(c.path), c.opens) << c.path;
        EXPECT_EQ(library.Find("ZELModuleInfo") != nullptr, c.finds) << c.path;
        EXPECT_EQ(library.Error().empty(), c.opens) << c.path << ": " << library.Error();
        library.Close();
        EXPECT_EQ(library.Find("ZELModuleInfo"), nullptr) << c.path;
    }
    ::SetDllDirectoryA(nullptr);
    fs::current_path(before);
}

TEST(ZelhostWin32, StoreReadsOnlyRegularFiles) {
    TTempDir dir;
    WriteFile(dir.File("store.xml"), "<SettingsStore/>");
    fs::create_directory(dir.File("folder"));
    // name | content read, or the error
    const struct { std::string name; std::optional<std::string> content; std::string error; } cases[] = {
        {dir.File("store.xml"), "<SettingsStore/>", ""},
        {dir.File("missing.xml"), std::nullopt, ""},
        {dir.File("folder"), std::nullopt, "cannot read " + dir.File("folder") + ": it is a directory, not a regular file"},
        {"NUL", std::nullopt, "cannot read NUL: it is a character device, not a regular file"},
    };
    for (const auto& c : cases) {
        std::optional<std::string> content;
        EXPECT_EQ(ErrorOf([&] { content = ReadStoreFile(c.name); }), c.error) << c.name;
        EXPECT_EQ(content, c.content) << c.name;
    }
}

TEST(ZelhostWin32, AtomicWriteReplacesTheFileAndLeavesNoTemporaryFile) {
    TTempDir dir;
    const std::string store = dir.File("store.xml");
    AtomicWriteFile(store, "first");
    AtomicWriteFile(store, "second");
    EXPECT_EQ(ReadStoreFile(store), "second");
    EXPECT_EQ(dir.Entries(), std::vector<std::string>{"store.xml"});

    ::SetFileAttributesA(store.c_str(), FILE_ATTRIBUTE_READONLY);
    EXPECT_EQ(ErrorOf([&] { AtomicWriteFile(store, "third"); }),
              "cannot write " + store + ": the file is read-only; nothing was changed");
    ::SetFileAttributesA(store.c_str(), FILE_ATTRIBUTE_NORMAL);
    EXPECT_EQ(ReadStoreFile(store), "second");
}

// Only this store's temporary files of writers that no longer run go; the rest are somebody's.
TEST(ZelhostWin32, AtomicWriteRemovesOnlyStaleTemporaryFiles) {
    const std::string mine = std::to_string(::GetCurrentProcessId());
    const DWORD other = OtherLiveProcess();
    ASSERT_NE(other, 0u);
    // name | removed by the next write
    const std::pair<std::string, bool> cases[] = {
        {".store.xml.zelhost-4294967292-0.tmp", true},  // no process has that id
        {".store.xml.zelhost-" + mine + "-999.tmp", false},
        {".store.xml.zelhost-" + std::to_string(other) + "-1.tmp", false},  // a writer still running
        {".other.xml.zelhost-4294967292-0.tmp", false},
        {".store.xml.zelhost-4294967292-x.tmp", false},
        {".store.xml.zelhost--0.tmp", false},
    };
    for (const auto& [name, removed] : cases) {
        TTempDir dir;
        WriteFile(dir.File(name), "left");
        AtomicWriteFile(dir.File("store.xml"), "<SettingsStore/>");
        EXPECT_EQ(fs::exists(dir.File(name)), !removed) << name;
    }
}

// Locks are per handle on Windows, so two owners in one process meet as two processes would.
TEST(ZelhostWin32, OwnersShareTheStoreOnlyForReading) {
    using U = TStoreOwner::TUse;
    const std::string pid = std::to_string(::GetCurrentProcessId());
    // first | second | the second's error, @ standing for the store
    const struct { U first; U second; std::string error; } cases[] = {
        {U::Read, U::Read, ""},
        {U::Write, U::Read, "@ is in use by zelhost, pid " + pid},
        {U::Write, U::Write, "@ is in use by zelhost, pid " + pid},
        {U::Read, U::Write, "@ is in use by zelhost"},  // a reader writes no pid
    };
    for (const auto& c : cases) {
        TTempDir dir;
        const std::string store = dir.File("store.xml");
        std::string error = c.error;
        if (const size_t at = error.find('@'); at != std::string::npos) error.replace(at, 1, store);
        {
            TStoreOwner first(store, c.first);
            EXPECT_EQ(ErrorOf([&] { TStoreOwner second(store, c.second); }), error);
            EXPECT_TRUE(fs::exists(store + ".lock"));
        }
        EXPECT_FALSE(fs::exists(store + ".lock")) << "the last owner removes it";
    }
}

TEST(ZelhostWin32, OwnerRefusesAFolderAtTheLockFilesName) {
    TTempDir dir;
    const std::string store = dir.File("store.xml");
    fs::create_directory(store + ".lock");
    EXPECT_EQ(ErrorOf([&] { TStoreOwner owner(store, TStoreOwner::TUse::Write); }),
              "cannot lock " + store + ": " + store + ".lock is a directory, not a regular file; remove it");
}

TEST(ZelhostWin32, ToolkitRunsPostedWorkInOrderAndQuits) {
    TEventPrinter events(false, [](std::string_view) {});
    auto toolkit = MakeToolkit(events);
    std::string order;
    std::thread late;
    // what ends the run | exit code | what ran
    const struct { std::function<void()> end; int code; std::string ran; } cases[] = {
        {[&] { std::thread([&] { toolkit->Post([&] { order += "b"; toolkit->Quit(); }); }).join(); }, 0, "ab"},
        {[&] { toolkit->QuitAfter(20); }, 0, "a"},
        // The time-out before ends one run only, not this longer one.
        {[&] { late = std::thread([&] { ::Sleep(100); toolkit->Post([&] { order += "b"; toolkit->Quit(); }); }); }, 0, "ab"},
        {[&] { toolkit->Post([&] { order += "b"; toolkit->ScreenshotPage("page.png", ""); }); }, 1, "ab"},
    };
    for (const auto& c : cases) {
        order.clear();
        toolkit->Post([&] { order += "a"; });
        c.end();
        EXPECT_EQ(toolkit->Run(), c.code) << c.ran;
        EXPECT_EQ(order, c.ran);
    }
    late.join();
    toolkit->Post([&] { order = "posted"; });
    toolkit->RunPosted();
    EXPECT_EQ(order, "posted");
    EXPECT_FALSE(toolkit->HasPage());
}

// Where nobody can answer (the input is no console), each box of the thread is reported and gets
// its default button, as from a person pressing Enter: the exact button, not a close.
TEST(ZelhostWin32, UnattendedBoxesAreReportedAndGetTheirDefaultButton) {
    HANDLE pipeRead = nullptr;
    HANDLE pipeWrite = nullptr;
    ASSERT_TRUE(::CreatePipe(&pipeRead, &pipeWrite, nullptr, 0));
    const HANDLE input = ::GetStdHandle(STD_INPUT_HANDLE);
    ::SetStdHandle(STD_INPUT_HANDLE, pipeRead);  // the toolkit looks once, as it is made
    std::vector<std::string> lines;
    TEventPrinter events(false, [&](std::string_view line) { lines.emplace_back(line); });
    auto toolkit = MakeToolkit(events);
    ::SetStdHandle(STD_INPUT_HANDLE, input);
    ::CloseHandle(pipeRead);
    ::CloseHandle(pipeWrite);
    // box style | the answer it gets
    const struct { UINT style; int answer; } cases[] = {
        {MB_OK, IDOK},
        {MB_OKCANCEL | MB_DEFBUTTON2, IDCANCEL},
        {MB_YESNO, IDYES},
        {MB_YESNO | MB_DEFBUTTON2, IDNO},
    };
    for (const auto& c : cases) {
        lines.clear();
        // Stop at the first wrong answer: the next box may not close on a wrong button.
        ASSERT_EQ(::MessageBoxA(nullptr, "Wohnzimmer", "zelhost test", c.style), c.answer) << c.style;
        EXPECT_EQ(lines, std::vector<std::string>{"message box: Wohnzimmer"}) << c.style;
    }
}
