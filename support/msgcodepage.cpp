// Code-page conversion of message texts; the conversion itself is the
// platform's (platform/codepage.h).

#include "msgcodepage.h"

#include "codepage.h"

uint8_t sourceCodePageOverrideOn = 0;
uint32_t sourceCodePageOverride = 0;
uint8_t targetCodePageOverrideOn = 0;
uint32_t targetCodePageOverride = 0;

uint32_t messageSourceCodePage() {
    return sourceCodePageOverrideOn != 0 && sourceCodePageOverride != 0 ? sourceCodePageOverride
                                                                        : kDefaultSourceCodePage;
}

uint32_t messageTargetCodePage() {
    return targetCodePageOverrideOn != 0 && targetCodePageOverride != 0 ? targetCodePageOverride
                                                                        : kDefaultTargetCodePage;
}

int convertMessageText(char* text) {
    const uint32_t from = messageSourceCodePage();
    const uint32_t to = messageTargetCodePage();
    if (text == nullptr || from == to) return 0;
    return plat::convertCodePage(text, from, to) ? 0 : 22;
}
