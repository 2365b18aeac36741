// A private folder for the fuzz targets, made once per process and removed at
// exit: the readers under test take paths, not bytes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace fuzzing {

// The folder's path, without a trailing slash.
const std::string& scratchFolder();
// Writes the bytes unchanged to scratchFolder()/name and returns its path.
std::string writeScratchFile(const std::string& name, const uint8_t* data, std::size_t size);

// Ends the process loudly: the fuzzer reports it as a crash with this reason.
[[noreturn]] void broken(const std::string& what);

} // namespace fuzzing
