// The trace options that jbbgen and jbbtool share:
//   --trace CLASSES      classes and aggregates to trace ("BTREEDB MEMORY")
//   --trace-file NAME    a file name, or STDOUT or STDERR (the default)
//   --trace-max MB       the file wraps at MB megabytes
//   --trace-segments N   a ring of N segment files of --trace-max MB each
//   --trace-timestamps   time stamp and source position on every line
#pragma once

#include <cstdint>
#include <string>

namespace traceargs {

struct Settings {
    bool given = false;  // any trace option at all
    std::string classes;
    std::string file;
    uint32_t maxMB = 0;
    uint32_t segments = 0;
    bool timestamps = false;
};

// Largest --trace-max (the header's offsets are 32-bit) and --trace-segments.
constexpr uint32_t maxTraceMB = 4095;
constexpr uint32_t maxSegments = 1000;

// Takes the trace options (also written --opt=VALUE) out of argv, up to a
// "--", and fills `s`.  False with `err` set (one line) when one is wrong.
bool extract(int* argc, char** argv, Settings* s, std::string* err);

// Starts tracing as `s` says (nothing when no trace option was given) and
// arranges for the trace to be closed when the program exits.  False with
// `err` set when a class word names nothing or the output cannot be
// opened.
bool start(const Settings& s, std::string* err);

// Closes the trace output (with its end marker) and switches tracing off.
void stop();

// The options' part of a --help text.
const char* helpText();

}  // namespace traceargs
