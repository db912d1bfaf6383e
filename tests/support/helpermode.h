// For the scope of a test: whether files start a second reading thread
// (1 always, 0 never), as read_helper.h's forceForTesting sets it; the
// processors there are decide again when the scope ends, however it ends.
#pragma once

#include "read_helper.h"

class ReadHelperMode {
public:
    explicit ReadHelperMode(int mode) { plat::ReadHelper::forceForTesting(mode); }
    ~ReadHelperMode() { plat::ReadHelper::forceForTesting(-1); }
    ReadHelperMode(const ReadHelperMode&) = delete;
    ReadHelperMode& operator=(const ReadHelperMode&) = delete;
};
