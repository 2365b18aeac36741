// A fresh folder under the system's temporary folder, removed with everything
// in it when the object goes.
#pragma once

#include <string>

namespace testsupport {

class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::string& path() const { return path_; }
    std::string file(const std::string& name) const { return path_ + "/" + name; }
    // Writes `bytes` unchanged (no line-end translation) and returns the file's path.
    std::string write(const std::string& name, const std::string& bytes) const;

private:
    std::string path_;
};

} // namespace testsupport
