// A fresh folder under the system's temporary directory, removed with
// everything in it when the object goes.
#pragma once

#include <filesystem>
#include <string>

class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    // Writes `bytes` unchanged (no line-end translation) and returns the path.
    std::string write(const std::string& name, const std::string& bytes) const;
    std::string path(const std::string& name) const;

private:
    std::filesystem::path root_;
};
