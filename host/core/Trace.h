// The call trace: one line per service call, in call order, written as the call
// returns so that its result can be shown. Off unless a file is given. The lines
// go to a temporary file beside the trace's name, which finish renames into
// place, so the name never shows a trace cut short by a full disk.
#pragma once

#include <memory>
#include <string>

#include "host/formats/AtomicFile.h"

namespace corvantis {

class Trace {
public:
    Trace() = default;
    // Throws SaveError when the file cannot be created.
    explicit Trace(const std::string& path, Durability durability = Durability::Complete);
    // A trace not finished (the run ended by an exception) is still put in
    // place when it was written whole; a failure then goes unreported.
    ~Trace();
    Trace(Trace&&) noexcept = default;
    Trace& operator=(Trace&&) = delete;

    // Never throws: a service call must not fail because of its trace. The
    // first failure stops the trace and is reported by finish.
    void write(const std::string& line);

    // Puts the trace in place. Throws SaveError when a line could not be
    // written or the file not completed; the name then keeps what it held.
    void finish();

private:
    std::unique_ptr<AtomicFile> file_;
    std::string failure_;
};

// A text as it appears in the trace: in double quotes, with \" \\ \n \r \t and
// \xHH for the other control bytes; (null) for a null pointer.
std::string quoted(const char* text);

// A float with enough digits to be read back to the same value.
std::string formatFloat(float value);

} // namespace corvantis
