// The host's own lines on stderr during a run: notes ("Corvantis: ...") and
// warnings ("Corvantis: warning: ..."). While it lives it also counts the warning
// lines that others write to the same stream (the services warn there too), so
// a run can end with a failing status when any warning was given.
#pragma once

#include <ostream>
#include <streambuf>
#include <string>
#include <vector>

namespace corvantis {

class HostWarnings {
public:
    // Watches stream: everything written to it passes through unchanged and is
    // counted; its own buffer is put back when this ends.
    explicit HostWarnings(std::ostream& stream);
    ~HostWarnings();
    HostWarnings(const HostWarnings&) = delete;
    HostWarnings& operator=(const HostWarnings&) = delete;

    void warn(const std::string& message);
    void note(const std::string& message);
    // The warning lines written to the stream so far, by anyone.
    int count() const { return counter_.warnings(); }
    // Their texts after the warning prefix, each line as soon as it has ended.
    const std::vector<std::string>& messages() const { return counter_.messages(); }

private:
    // Passes every character on and counts the lines that start as a warning.
    class CountingBuffer : public std::streambuf {
    public:
        explicit CountingBuffer(std::streambuf* target) : target_(target) {}
        int warnings() const { return warnings_; }
        const std::vector<std::string>& messages() const { return messages_; }

    protected:
        int_type overflow(int_type c) override;
        std::streamsize xsputn(const char* text, std::streamsize count) override;
        int sync() override;

    private:
        void see(char c);

        std::streambuf* target_;
        std::size_t matched_ = 0;  // characters of the warning prefix the line has matched
        bool lineCounted_ = false; // the line already failed the prefix or was counted
        int warnings_ = 0;
        bool inWarning_ = false; // past a warning prefix: the line's text is kept
        std::string text_;
        std::vector<std::string> messages_;
    };

    std::ostream& stream_;
    std::streambuf* original_;
    CountingBuffer counter_;
};

} // namespace corvantis
