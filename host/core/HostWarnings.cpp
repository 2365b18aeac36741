#include "host/core/HostWarnings.h"

namespace corvantis {

namespace {

const char kWarningPrefix[] = "Corvantis: warning: ";
constexpr std::size_t kPrefixLength = sizeof kWarningPrefix - 1;

} // namespace

HostWarnings::HostWarnings(std::ostream& stream) : stream_(stream), original_(stream.rdbuf()), counter_(original_) {
    stream_.rdbuf(&counter_);
}

HostWarnings::~HostWarnings() {
    stream_.flush();
    stream_.rdbuf(original_);
}

void HostWarnings::warn(const std::string& message) { stream_ << kWarningPrefix << message << '\n' << std::flush; }

void HostWarnings::note(const std::string& message) { stream_ << "Corvantis: " << message << '\n' << std::flush; }

void HostWarnings::CountingBuffer::see(char c) {
    if (c == '\n') {
        if (inWarning_) messages_.push_back(text_);
        inWarning_ = false;
        text_.clear();
        matched_ = 0;
        lineCounted_ = false;
        return;
    }
    if (inWarning_) {
        text_ += c;
        return;
    }
    if (lineCounted_) {
        return;
    }
    if (c != kWarningPrefix[matched_]) {
        lineCounted_ = true; // not a warning line: nothing more to look at until its end
        return;
    }
    if (++matched_ == kPrefixLength) {
        ++warnings_;
        lineCounted_ = true;
        inWarning_ = true;
    }
}

HostWarnings::CountingBuffer::int_type HostWarnings::CountingBuffer::overflow(int_type c) {
    if (traits_type::eq_int_type(c, traits_type::eof())) {
        return traits_type::not_eof(c);
    }
    see(traits_type::to_char_type(c));
    return target_->sputc(traits_type::to_char_type(c));
}

std::streamsize HostWarnings::CountingBuffer::xsputn(const char* text, std::streamsize count) {
    for (std::streamsize k = 0; k < count; ++k) see(text[k]);
    return target_->sputn(text, count);
}

int HostWarnings::CountingBuffer::sync() { return target_->pubsync(); }

} // namespace corvantis
