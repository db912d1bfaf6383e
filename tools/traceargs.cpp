// The shared trace options (see traceargs.h).

#include "traceargs.h"

#include <cstdlib>
#include <cstring>

#include "logutils.h"
#include "psstr.h"
#include "trace.h"
#include "tracespec.h"

namespace traceargs {

namespace {

bool parseNumber(const std::string& v, uint32_t low, uint32_t high, uint32_t* out) {
    if (v.empty() || v.size() > 10) return false;
    uint64_t n = 0;
    for (char c : v) {
        if (c < '0' || c > '9') return false;
        n = n * 10 + static_cast<uint64_t>(c - '0');
    }
    if (n < low || n > high) return false;
    *out = static_cast<uint32_t>(n);
    return true;
}

bool isConsoleName(const std::string& name) {
    return psStrICmp(name.c_str(), "STDOUT") == 0 || psStrICmp(name.c_str(), "STDERR") == 0;
}

}  // namespace

const char* helpText() {
    // Each option, two or more blanks, its text; further lines of the text
    // indented to where it begins (the layout the man-page test reads).
    return "Tracing:\n"
           "  --trace CLASSES     trace these classes: names and aggregates separated by\n"
           "                      blanks or commas, -NAME to leave one out (for example\n"
           "                      BTREEDB, \"BTREEDB MEMORY\", \"SERVICE -NLS\"; PREFIX\n"
           "                      adds the source file and line to every line)\n"
           "  --trace-file NAME   trace file, or STDOUT or STDERR (default STDERR)\n"
           "  --trace-max MB      the trace file wraps at MB megabytes (1 to 4095)\n"
           "  --trace-segments N  a ring of N files NAME.1 ... NAME.N of --trace-max MB\n"
           "                      each (2 to 1000)\n"
           "  --trace-timestamps  time stamp, file and line on every trace line\n"
           "Read a trace file with 'jbbtool trace FILE'.\n";
}

bool extract(int* argc, char** argv, Settings* s, std::string* err) {
    int out = 1;
    bool done = false;
    for (int i = 1; i < *argc; ++i) {
        std::string arg = argv[i];
        if (done || arg.compare(0, 7, "--trace") != 0) {
            if (arg == "--") done = true;
            argv[out++] = argv[i];
            continue;
        }
        std::string value;
        bool hasValue = false;
        const size_t eq = arg.find('=');
        if (eq != std::string::npos) {
            value = arg.substr(eq + 1);
            arg.resize(eq);
            hasValue = true;
        }
        const bool takesValue =
            arg == "--trace" || arg == "--trace-file" || arg == "--trace-max" || arg == "--trace-segments";
        if (!takesValue && arg != "--trace-timestamps") {
            argv[out++] = argv[i];  // not ours: the program reports it
            continue;
        }
        if (takesValue && !hasValue) {
            if (i + 1 >= *argc) {
                *err = "option " + arg + " needs a value";
                return false;
            }
            value = argv[++i];
        }
        if (!takesValue && hasValue) {
            *err = "option " + arg + " takes no value";
            return false;
        }
        s->given = true;
        if (arg == "--trace") {
            s->classes += (s->classes.empty() ? "" : " ") + value;
        } else if (arg == "--trace-file") {
            if (value.empty()) {
                *err = "--trace-file needs a file name";
                return false;
            }
            s->file = value;
        } else if (arg == "--trace-max") {
            if (!parseNumber(value, 1, maxTraceMB, &s->maxMB)) {
                *err = "bad value '" + value + "' for --trace-max: expected 1 to " + std::to_string(maxTraceMB);
                return false;
            }
        } else if (arg == "--trace-segments") {
            if (!parseNumber(value, 2, maxSegments, &s->segments)) {
                *err = "bad value '" + value + "' for --trace-segments: expected 2 to " + std::to_string(maxSegments);
                return false;
            }
        } else {
            s->timestamps = true;
        }
    }
    argv[out] = nullptr;
    *argc = out;
    if ((s->maxMB != 0 || s->segments != 0) && (s->file.empty() || isConsoleName(s->file))) {
        *err = "--trace-max and --trace-segments need --trace-file with a file name";
        return false;
    }
    if (s->segments != 0 && s->maxMB == 0) {
        *err = "--trace-segments needs --trace-max";
        return false;
    }
    return true;
}

bool start(const Settings& s, std::string* err) {
    if (!s.given) return true;
    std::string bad;
    if (traceApplyClassSpec(s.classes.c_str(), &bad) != 0) {
        *err = "--trace: '" + bad + "' is neither a trace class nor an aggregate";
        return false;
    }
    TraceControl* tc = traceInstallControl();
    const std::string name = s.file.empty() ? "STDERR" : s.file;
    tc->consoleOutput = 1;
    if (isConsoleName(name)) {
        tc->enabled = 1;
        if (s.timestamps) traceFlag_TIMESTAMP = traceFlag_PREFIX = 1;
    }
    tc->timestampsRequested = s.timestamps ? 1 : 0;
    if (s.maxMB != 0) {
        tc->wrapEnabled = 1;
        tc->maxSizeMB = s.maxMB;
        if (s.segments >= 2) {
            tc->segmentCount = s.segments;
            tc->segmentSizeMB = s.maxMB;
            tc->lastSegmentSizeMB = s.maxMB;
            tc->currentSegment = 1;
        }
    }
    const int rc = traceOpen(name.c_str(), 1);
    if (rc != 0) {
        *err = rc == traceErrInvalidName ? "invalid trace file name '" + name + "'"
                                         : "cannot open the trace file '" + name + "'";
        return false;
    }
    std::atexit(stop);
    return true;
}

void stop() { traceClose(1); }

}  // namespace traceargs
