// SafeOutput: writes a file that a user names so that nothing already there
// is destroyed by mistake.  Shared by every program that writes a file.
//
//   SafeOutput out(target, {input paths}, kind, force);
//   std::string why;
//   FILE* f = out.open(&why);      // null: `why` is one line to print
//   ... fwrite to f ...
//   if (!out.commit(&why)) ...     // `why` is one line to print
//
// open() decides first whether the target may be replaced:
// - it is refused when it is the same file as one of the inputs (by file
//   identity, not by name): "OUT is also an input";
// - a symbolic link, a file with more than one hard link and anything that
//   is not a regular file are never replaced: "OUT: a symbolic link, left
//   as it is" (and so on);
// - an existing non-empty file that `kind` does not recognise is refused
//   unless `force`: "OUT: not an HTML page, left as it is";
// then it creates a new file beside the target (OUT.PID-N.tmp in the same
// folder) and returns it.  commit() closes that file and, only when every
// byte reached it, renames it into the target's place in one step; a
// failed commit, or a SafeOutput destroyed without commit(), removes the
// new file and leaves the target as it was.  Refusals and failures are
// the callers' exit status 2 (the programs' usage or I/O error).
//
// "-" as the target is standard output (binary): open() gives stdout and
// commit() flushes it.
//
// A writer that opens its file by name (the B-tree engine creates its own)
// calls preparePath() instead of open(): the same checks, then the name of
// the new file to create, which does not exist yet; commit() renames it
// into place.  Standard output is no choice there (preparePath refuses "-").
#pragma once

#include <cstdio>
#include <string>
#include <vector>

// What a command writes, to recognise a file it may replace.
struct OutputKind {
    // Completes "not ...", for example "an HTML page".
    const char* name;
    // True when the first bytes of a file (up to headBytes of them) show
    // one of this kind.
    bool (*recognise)(const std::string& head);
    size_t headBytes;
};

class SafeOutput {
public:
    SafeOutput(std::string target, std::vector<std::string> inputs, const OutputKind& kind, bool force);
    ~SafeOutput();
    SafeOutput(const SafeOutput&) = delete;
    SafeOutput& operator=(const SafeOutput&) = delete;

    // True for "-", standard output.
    bool toStdout() const { return target_ == "-"; }
    const std::string& target() const { return target_; }

    FILE* open(std::string* why);
    // The checks of open(), then the name of a new file beside the target
    // for the caller to create and write; empty with `why` on refusal.
    std::string preparePath(std::string* why);
    // Closes the new file (if open() opened it), checks that it was
    // written whole, and puts it in the target's place.
    bool commit(std::string* why);
    // Removes the new file now, keeping the target (also what destruction
    // without commit() does).
    void discard();

private:
    bool mayReplace(std::string* why) const;
    bool chooseTemp(std::string* why);

    std::string target_;
    std::vector<std::string> inputs_;
    OutputKind kind_;
    bool force_;
    std::string temp_;  // the new file's name, while it is ours to remove
    FILE* file_ = nullptr;
    bool committed_ = false;
};
