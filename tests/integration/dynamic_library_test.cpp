// The loader seam from outside: which names it opens, what it finds in them, and what it says
// when it refuses.
#include <gtest/gtest.h>

#include <filesystem>

#include "DynamicLibrary.h"
#include "Process.h"

using namespace zelhost;
using namespace zeltest;

TEST(DynamicLibrary, OpensTheNamedFileOnlyAndFindsItsExports) {
    TTempDir dir;
    WriteFile(dir.File("empty.so"), "");
    const std::filesystem::path module = ZELHOST_MODULE;
    const std::filesystem::path before = std::filesystem::current_path();
    std::filesystem::current_path(module.parent_path());  // for the bare name
    // path | opens | ZELModuleInfo found
    const struct { std::string path; bool opens; bool finds; } cases[] = {
        {ZELHOST_MODULE, true, true},
        {module.filename().string(), true, true},  // a bare name: the file in this folder
        {ZELHOST_NO_ENTRY, true, false},
        {"libc.so.6", false, false},  // only on the library path, which is never searched
        {dir.File("empty.so"), false, false},
    };
    for (const auto& c : cases) {
        TDynamicLibrary library;
        EXPECT_EQ(library.Open(c.path), c.opens) << c.path;
        EXPECT_EQ(library.Find("ZELModuleInfo") != nullptr, c.finds) << c.path;
        EXPECT_EQ(library.Error().empty(), c.opens) << c.path << ": " << library.Error();
        library.Close();
        EXPECT_EQ(library.Find("ZELModuleInfo"), nullptr) << c.path;
    }
    std::filesystem::current_path(before);
}
