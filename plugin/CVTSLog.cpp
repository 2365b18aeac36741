#include "plugin/CVTSLog.h"

#include <memory>
#include <string>

CVTSLog::CVTSBuf::CVTSBuf(cvLogText_t logFunction)
    : std::stringbuf(std::ios_base::in | std::ios_base::out), logFunction_(logFunction) {}

CVTSLog::CVTSBuf::~CVTSBuf() {
    // Unflushed text still reaches the host; an empty text when nothing is pending.
    CVTSBuf::sync();
}

int CVTSLog::CVTSBuf::sync() {
    const std::string text = str();
    if (logFunction_ != nullptr) {
        logFunction_(text.c_str());
    }
    // Swapping with a fresh buffer releases the old storage, not only its length.
    std::stringbuf fresh(std::ios_base::in | std::ios_base::out);
    swap(fresh);
    return 0;
}

// The stream base's buffer pointer is the buffer's one owner, as the host kit
// lays the class out; the destructor takes that ownership back.
CVTSLog::CVTSLog(cvLogText_t logFunction) : std::ostream(std::make_unique<CVTSBuf>(logFunction).release()) {}

CVTSLog::~CVTSLog() { const std::unique_ptr<std::streambuf> buffer(rdbuf(nullptr)); }
