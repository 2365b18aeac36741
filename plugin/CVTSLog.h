// The log stream to the host's log pane: everything written between two flushes
// reaches cvLogText as one text.
#pragma once

#include <ostream>
#include <sstream>

#include "plugin/HostKit.h"

class CVTSLog : public std::ostream {
public:
    class CVTSBuf : public std::stringbuf {
    public:
        explicit CVTSBuf(cvLogText_t logFunction);
        ~CVTSBuf() override;

    protected:
        int sync() override;

    private:
        cvLogText_t logFunction_;
    };

    explicit CVTSLog(cvLogText_t logFunction);
    ~CVTSLog() override;
    CVTSLog(const CVTSLog&) = delete;
    CVTSLog& operator=(const CVTSLog&) = delete;
};
