// Writes a file so that its final name only ever names a complete file: the
// bytes go to a new temporary file beside it, created exclusively under a random
// name (never an existing file, never through a link), and only when every write
// and the close have succeeded (and, when asked, the flush to disk) is it
// renamed over the target.
#pragma once

#include <cstddef>
#include <filesystem>
#include <functional>
#include <iosfwd>

namespace corvantis {

// What a committed file survives. A killed process never leaves a cut file
// either way; only a flushed one also survives a power loss, at the price of
// waiting for the disk on every file.
enum class Durability {
    Complete, // written whole, checked and renamed into place
    Flushed,  // the same, flushed to disk before the rename
};

class AtomicFile {
public:
    // Creates the temporary file in target's folder. Throws SaveError naming
    // target and the reason, also when target is a device, pipe or socket.
    explicit AtomicFile(std::filesystem::path target, Durability durability = Durability::Complete);
    // Removes the temporary file unless it was committed.
    ~AtomicFile();
    AtomicFile(AtomicFile&& other) noexcept;
    AtomicFile& operator=(AtomicFile&& other) = delete;
    AtomicFile(const AtomicFile&) = delete;
    AtomicFile& operator=(const AtomicFile&) = delete;

    const std::filesystem::path& target() const { return target_; }
    // The temporary file's name while it is open, empty once committed or abandoned.
    const std::filesystem::path& temporary() const { return temporary_; }

    // Appends the bytes. Throws SaveError (e.g. "No space left on device").
    void write(const void* bytes, std::size_t size);

    // Flushes to disk (when Durability::Flushed), closes and renames over the target. Throws SaveError and
    // removes the temporary file when any of it fails; the target is then as it was.
    void commit();

private:
    void abandon() noexcept;
    [[noreturn]] void fail(const std::string& what, int error);

    std::filesystem::path target_;
    std::filesystem::path temporary_;
    int descriptor_ = -1;
    Durability durability_;
};

// The file's whole content from write, through a stream. Throws SaveError (and
// leaves no temporary file) when the file cannot be created, written or
// renamed; an exception of write passes through the same way. An existing file
// of that name stays as it was then.
void writeFileAtomically(const std::filesystem::path& path, const std::function<void(std::ostream&)>& write,
                         Durability durability = Durability::Complete);

// The same with the content given whole.
void writeFileAtomically(const std::filesystem::path& path, const void* bytes, std::size_t size,
                         Durability durability = Durability::Complete);

} // namespace corvantis
