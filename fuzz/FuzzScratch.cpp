#include "FuzzScratch.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <stdexcept>

namespace fuzzing {

namespace fs = std::filesystem;

namespace {

struct Scratch {
    std::string path;
    Scratch() {
        std::string pattern = (fs::temp_directory_path() / "quorvex-fuzz-XXXXXX").string();
        if (mkdtemp(pattern.data()) == nullptr) broken("cannot create a scratch folder");
        path = pattern;
    }
    ~Scratch() {
        std::error_code ignored;
        fs::remove_all(path, ignored);
    }
};

} // namespace

const std::string& scratchFolder() {
    static const Scratch scratch;
    return scratch.path;
}

std::string writeScratchFile(const std::string& name, const uint8_t* data, std::size_t size) {
    const std::string path = scratchFolder() + "/" + name;
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
    out.close();
    if (!out) broken("cannot write " + path);
    return path;
}

void broken(const std::string& what) {
    std::fprintf(stderr, "fuzz target: %s\n", what.c_str());
    std::abort();
}

} // namespace fuzzing
