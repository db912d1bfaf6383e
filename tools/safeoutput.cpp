// SafeOutput (safeoutput.h): checks a target before anything is written,
// writes beside it and renames into place.
#include "safeoutput.h"

#include <cerrno>
#include <cstdio>
#include <string>
#include <utility>

#include "outputfile.h"
#include "platform.h"

namespace {

// The most tries at a free name beside the target (names of one process
// differ by their counter; another process's by its id).
constexpr int kTempTries = 100;

}  // namespace

SafeOutput::SafeOutput(std::string target, std::vector<std::string> inputs, const OutputKind& kind, bool force)
    : target_(std::move(target)), inputs_(std::move(inputs)), kind_(kind), force_(force) {}

SafeOutput::~SafeOutput() { discard(); }

bool SafeOutput::mayReplace(std::string* why) const {
    plat::ExistingOutput there;
    if (!plat::examineOutput(target_.c_str(), kind_.headBytes, &there)) {
        *why = "cannot write " + target_ + ": " + plat::errnoText(errno);
        return false;
    }
    if (!there.exists) return true;
    if (there.refusal != nullptr) {
        *why = target_ + ": " + there.refusal + ", left as it is";
        return false;
    }
    for (const std::string& in : inputs_) {
        plat::FileId id;
        if (in != "-" && plat::fileIdentity(in.c_str(), &id) && id == there.id) {
            *why = target_ + " is also an input";
            return false;
        }
    }
    if (!force_ && there.size > 0 && !kind_.recognise(there.head)) {
        *why = target_ + ": not " + kind_.name + ", left as it is";
        return false;
    }
    return true;
}

bool SafeOutput::chooseTemp(std::string* why) {
    const std::string stem = target_ + "." + std::to_string(plat::processId()) + "-";
    for (int n = 0; n < kTempTries; ++n) {
        const std::string name = stem + std::to_string(n) + ".tmp";
        plat::ExistingOutput there;
        if (!plat::examineOutput(name.c_str(), 0, &there)) break;
        if (there.exists) continue;
        temp_ = name;
        return true;
    }
    *why = "cannot write " + target_ + ": no free name for a new file beside it";
    return false;
}

FILE* SafeOutput::open(std::string* why) {
    if (toStdout()) {
        if (!plat::stdoutBinary()) {
            *why = "cannot write to standard output in binary mode";
            return nullptr;
        }
        return stdout;
    }
    if (!mayReplace(why)) return nullptr;
    for (int n = 0; n < kTempTries; ++n) {
        if (!chooseTemp(why)) return nullptr;
        errno = 0;
        file_ = plat::createNewFile(temp_.c_str());
        if (file_ != nullptr) return file_;
        const int err = errno;
        temp_.clear();  // not ours: it was never made, or another's
        if (err != EEXIST) {
            *why = "cannot write " + target_ + ": " + plat::errnoText(err != 0 ? err : EIO);
            return nullptr;
        }
    }
    *why = "cannot write " + target_ + ": no free name for a new file beside it";
    return nullptr;
}

std::string SafeOutput::preparePath(std::string* why) {
    if (toStdout()) {
        *why = "cannot write to standard output: the file is made by name";
        return std::string();
    }
    if (!mayReplace(why) || !chooseTemp(why)) return std::string();
    return temp_;
}

bool SafeOutput::commit(std::string* why) {
    if (toStdout()) {
        if (std::fflush(stdout) != 0 || std::ferror(stdout)) {
            *why = "cannot write to standard output: " + plat::errnoText(errno != 0 ? errno : EIO);
            return false;
        }
        committed_ = true;
        return true;
    }
    if (file_ != nullptr) {
        errno = 0;
        bool ok = std::fflush(file_) == 0 && !std::ferror(file_);
        int err = errno;
        ok = std::fclose(file_) == 0 && ok;
        if (err == 0) err = errno;
        file_ = nullptr;
        if (!ok) {
            *why = "cannot write " + target_ + ": " + plat::errnoText(err != 0 ? err : EIO);
            discard();
            return false;
        }
    }
    // What stands at the name may have changed while the file was written.
    if (temp_.empty() || !mayReplace(why)) {
        if (temp_.empty()) *why = "cannot write " + target_ + ": nothing was written";
        discard();
        return false;
    }
    if (!plat::replaceFile(temp_.c_str(), target_.c_str())) {
        *why = "cannot write " + target_ + ": " + plat::errnoText(errno);
        discard();
        return false;
    }
    temp_.clear();
    committed_ = true;
    return true;
}

void SafeOutput::discard() {
    if (file_ != nullptr) {
        std::fclose(file_);
        file_ = nullptr;
    }
    if (!temp_.empty()) {
        plat::removeFile(temp_.c_str());
        temp_.clear();
    }
}
