#include <gtest/gtest.h>

#include <dlfcn.h>
#include <unistd.h>

#include <cctype>
#include <filesystem>
#include <string>

#include "plugin/HostKit.h"
#include "plugin/ModuleLookup.h"

// Exported by this test program (it is linked with its exports visible), so the
// main program has a name of its own to be found.
extern "C" CVTS_EXPORT int cvModuleLookupProbe() { return 42; }

namespace {

std::string programFileName() { return std::filesystem::read_symlink("/proc/self/exe").filename().string(); }

std::string upperCase(std::string text) {
    for (char& c : text) {
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    }
    return text;
}

// Owns what findLoadedModule handed out.
struct Found {
    explicit Found(const std::string& name) : handle(cvts::findLoadedModule(name.c_str())) {}
    ~Found() { cvts::releaseModule(handle); }
    Found(const Found&) = delete;
    Found& operator=(const Found&) = delete;
    cvts::ModuleHandle handle;
};

TEST(ModuleFileName, EqualsCaseInsensitivelyWithTheRequestedExeOptional) {
    EXPECT_TRUE(cvts::moduleFileNameMatches("Corvantis.exe", "Corvantis.exe"));
    EXPECT_TRUE(cvts::moduleFileNameMatches("Corvantis", "Corvantis.exe"));
    EXPECT_TRUE(cvts::moduleFileNameMatches("corvantis.EXE", "Corvantis.exe"));
    EXPECT_TRUE(cvts::moduleFileNameMatches("CORVANTIS", "corvantis.Exe"));
    EXPECT_TRUE(cvts::moduleFileNameMatches("libc.so.6", "LIBC.SO.6"));
}

TEST(ModuleFileName, AnythingElseDiffers) {
    EXPECT_FALSE(cvts::moduleFileNameMatches("Corvantis.so", "Corvantis.exe"));
    EXPECT_FALSE(cvts::moduleFileNameMatches("Corvantis.exe.bak", "Corvantis.exe"));
    EXPECT_FALSE(cvts::moduleFileNameMatches("Corvanti", "Corvantis.exe"));
    EXPECT_FALSE(cvts::moduleFileNameMatches("XCorvantis", "Corvantis.exe"));
    EXPECT_FALSE(cvts::moduleFileNameMatches("Corvantis.exe", "Corvantis")); // only a requested .exe may be missing
    EXPECT_FALSE(cvts::moduleFileNameMatches("", ".exe"));
}

TEST(ModuleLookup, FindsTheMainProgramByItsFileName) {
    const Found exact(programFileName());
    const Found shouted(upperCase(programFileName()) + ".EXE");
    EXPECT_NE(exact.handle, nullptr);
    EXPECT_NE(shouted.handle, nullptr);
    EXPECT_EQ(cvts::findExport(shouted.handle, "cvModuleLookupProbe"),
              reinterpret_cast<cvts::HostEntry>(&cvModuleLookupProbe));
}

TEST(ModuleLookup, FindsALoadedLibrary) {
    const Found libc("libc.so.6");
    ASSERT_NE(libc.handle, nullptr);
    EXPECT_EQ(cvts::findExport(libc.handle, "getpid"),
              reinterpret_cast<cvts::HostEntry>(dlsym(RTLD_DEFAULT, "getpid")));
}

TEST(ModuleLookup, AcceptsOnlyTheModulesOwnExports) {
    const Found program(programFileName());
    const Found libc("libc.so.6");
    EXPECT_EQ(cvts::findExport(program.handle, "cvNotExportedByAnyone"), nullptr);
    // getpid is in libc, which the program depends on: not the program's own.
    EXPECT_EQ(cvts::findExport(program.handle, "getpid"), nullptr);
    EXPECT_EQ(cvts::findExport(libc.handle, "cvModuleLookupProbe"), nullptr);
    EXPECT_EQ(cvts::findExport(nullptr, "getpid"), nullptr);
}

TEST(ModuleLookup, AModuleNotLoadedIsNotFoundAndStaysUnloaded) {
    const char* library = "libz.so.1";
    void* before = dlopen(library, RTLD_LAZY | RTLD_NOLOAD);
    if (before != nullptr) {
        dlclose(before);
        GTEST_SKIP() << library << " is loaded in this process already";
    }
    const Found found(library);
    EXPECT_EQ(found.handle, nullptr);
    void* after = dlopen(library, RTLD_LAZY | RTLD_NOLOAD);
    EXPECT_EQ(after, nullptr);
    if (after != nullptr) {
        dlclose(after);
    }
    const Found corvantis("Corvantis.exe");
    EXPECT_EQ(corvantis.handle, nullptr);
}

} // namespace
