// Code-page conversion of message texts: from the source code page of the
// repository (default 850) to the target code page (default 1252), each
// replaceable by a process-wide override (used when its switch is set and
// its number is not 0).
#pragma once

#include <cstdint>

constexpr uint32_t kDefaultSourceCodePage = 850;
constexpr uint32_t kDefaultTargetCodePage = 1252;

extern uint8_t sourceCodePageOverrideOn;
extern uint32_t sourceCodePageOverride;
extern uint8_t targetCodePageOverrideOn;
extern uint32_t targetCodePageOverride;

uint32_t messageSourceCodePage();
uint32_t messageTargetCodePage();

// Converts the NUL-terminated `text` in place when the two pages differ,
// never making it longer; a character the target lacks becomes '?'.
// Returns 0, or 22 when a page is unknown (the text is then unchanged).
int convertMessageText(char* text);
