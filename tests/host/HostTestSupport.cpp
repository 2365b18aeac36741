#include "HostTestSupport.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

extern char** environ;

namespace hosttest {

namespace fs = std::filesystem;

void writeFile(const std::string& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << bytes;
    if (!out) {
        throw std::runtime_error("cannot write " + path);
    }
}

std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        throw std::runtime_error("cannot read " + path);
    }
    std::ostringstream bytes;
    bytes << in.rdbuf();
    return bytes.str();
}

bool fileExists(const std::string& path) { return fs::exists(path); }

std::vector<std::string> filesIn(const std::string& folder) {
    std::vector<std::string> names;
    for (const fs::directory_entry& entry : fs::directory_iterator(folder)) {
        names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
}

namespace {

void appendLittleEndian(std::string& bytes, uint32_t bits, int size) {
    for (int i = 0; i < size; ++i) {
        bytes += static_cast<char>((bits >> (8 * i)) & 0xFF);
    }
}

} // namespace

std::string floatBytes(const std::vector<float>& values) {
    std::string bytes;
    for (float value : values) {
        uint32_t bits = 0;
        std::memcpy(&bits, &value, 4);
        appendLittleEndian(bytes, bits, 4);
    }
    return bytes;
}

std::string int16Bytes(const std::vector<int16_t>& values) {
    std::string bytes;
    for (int16_t value : values) {
        appendLittleEndian(bytes, static_cast<uint16_t>(value), 2);
    }
    return bytes;
}

std::string writeRun(const std::string& folder, const std::string& name, int dimX, int dimY, int dimZ, int volumes,
                     int dataType, const std::string& stcBytes, const std::string& extraLines) {
    std::ostringstream text;
    text << "NrOfVolumes: " << volumes << "\nDimX: " << dimX << "\nDimY: " << dimY << "\nDimZ: " << dimZ
         << "\nDataType: " << dataType << "\nSTCFile: " << name << ".stc\n"
         << extraLines;
    const std::string fmr = folder + "/" + name + ".fmr";
    writeFile(fmr, text.str());
    writeFile(folder + "/" + name + ".stc", stcBytes);
    return fmr;
}

std::string writeCountingRun(const std::string& folder, const std::string& name, int dimX, int dimY, int dimZ,
                             int volumes) {
    std::vector<float> values;
    for (int v = 0; v < volumes; ++v) {
        for (int l = 0; l < dimX * dimY * dimZ; ++l) {
            values.push_back(static_cast<float>(100 * v + l));
        }
    }
    return writeRun(folder, name, dimX, dimY, dimZ, volumes, 2, floatBytes(values));
}

Outcome runProgram(const std::string& program, const std::vector<std::string>& args) {
    TempDir capture;
    const std::string outPath = capture.file("out"), errPath = capture.file("err");
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    posix_spawn_file_actions_addopen(&actions, 2, errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(program.c_str()));
    for (const std::string& arg : args) {
        argv.push_back(const_cast<char*>(arg.c_str()));
    }
    argv.push_back(nullptr);
    pid_t child = 0;
    const int spawned = posix_spawn(&child, program.c_str(), &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (spawned != 0) {
        throw std::runtime_error("cannot run " + program + ": " + std::strerror(spawned));
    }
    int status = 0;
    waitpid(child, &status, 0);
    Outcome outcome;
    outcome.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    outcome.out = readFile(outPath);
    outcome.err = readFile(errPath);
    return outcome;
}

std::string corvantisProgram() { return CORVANTIS_PROGRAM; }
std::string quorvexLibrary() { return QUORVEX_LIBRARY; }

} // namespace hosttest
