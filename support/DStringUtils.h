// Wide-text duplication through the tracked allocator.
#pragma once

// A copy of `s` in a block from kvMalloc (release it with kvFree); null
// when `s` is null or memory is short.
char16_t* dsDupWide(const char16_t* s);
