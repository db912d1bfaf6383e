// Feeds arbitrary bytes to the message repository as a repository file.
//
// Input: one byte n, then n bytes that choose the setup, the messages
// looked up and their arguments, then the repository image.  The image is
// set up as the primary (and, when the first choice byte says so, also as
// the alternate) repository, and messages 1 to 12 and those the choice
// bytes name are looked up, formatted with arguments taken from the choice
// bytes, and asked for their severity.  Results do not matter; nothing may
// crash, hang, or touch memory outside its buffers.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "kvmem.h"
#include "nls.h"

namespace {

void sink(const char16_t*) {}

// Arguments drawn from the choice bytes, cyclically; texts from a fixed
// set (one wide text holds a character few locales can show).
class ScriptArgs : public NlsArgs {
public:
    ScriptArgs(const uint8_t* s, size_t n) : s_(s), n_(n) {}
    int nextInt() override { return static_cast<int8_t>(byte()) * 1000 + byte(); }
    long nextLong() override { return nextInt(); }
    long long nextLongLong() override { return static_cast<long long>(nextInt()) * (1LL << (byte() % 40)); }
    double nextDouble() override { return nextInt() / 7.0; }
    const char* nextText() override {
        static const char* const kTexts[] = {"", "text", "%s%n%d", "\xC9\x82 bytes", "a longer text of some length"};
        return kTexts[byte() % 5];
    }
    const wchar_t* nextWideText() override {
        static const wchar_t* const kTexts[] = {L"", L"wide", L"a\u4E2Db", L"%ls"};
        return kTexts[byte() % 4];
    }

private:
    uint8_t byte() { return n_ == 0 ? 0 : s_[i_++ % n_]; }
    const uint8_t* s_;
    size_t n_;
    size_t i_ = 0;
};

void lookUp(uint32_t n, const uint8_t* script, size_t scriptSize) {
    ScriptArgs args(script, scriptSize);
    char* text = nullptr;
    int severity = 0;
    nlGetMsgSev(&nlsCtx, n, &text, args, &severity);
    if (text != nullptr) kvFree(text, "nls_fuzz", __LINE__);
    nlGetSeverity(n);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) return 0;
    const size_t scriptSize = data[0];
    if (size < 1 + scriptSize) return 0;
    const uint8_t* script = data + 1;
    const uint8_t* image = script + scriptSize;
    const size_t imageSize = size - 1 - scriptSize;

    const char* tmp = std::getenv("TMPDIR");
    const std::string path = std::string(tmp != nullptr ? tmp : "/tmp") + "/nls_fuzz_" +
                             std::to_string(static_cast<long>(getpid())) + ".rep";
    FILE* f = std::fopen(path.c_str(), "wb");
    if (f == nullptr) return 0;
    const bool written = std::fwrite(image, 1, imageSize, f) == imageSize;
    if (std::fclose(f) != 0 || !written) {
        std::remove(path.c_str());
        return 0;
    }

    const uint8_t choice = scriptSize > 0 ? script[0] : 0;
    NlsSetup setup;
    setup.repository = path.c_str();
    setup.alternate = (choice & 1) != 0 ? path.c_str() : nullptr;
    setup.cacheLimit = 1 + ((choice >> 1) & 3);
    setup.convertCodePage = (choice & 0x80) != 0;
    for (auto& out : setup.output) out = sink;
    if (nlsOpen(setup) == 0) {
        for (uint32_t n = 1; n <= 12; ++n) lookUp(n, script, scriptSize);
        for (size_t i = 1; i + 1 < scriptSize; i += 2) {
            if ((script[i] & 0x80) != 0) nlsCtx.alternateFlag = 1;
            lookUp((static_cast<uint32_t>(script[i] & 0x7F) << 8) | script[i + 1], script + i, scriptSize - i);
        }
    }
    nlsClose();
    std::remove(path.c_str());
    return 0;
}
