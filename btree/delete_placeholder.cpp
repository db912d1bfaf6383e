// PLACEHOLDER: lets the viewer link until btree/delete.cpp provides the real
// Delete.  Remove this file (and its line in CMakeLists.txt) when delete.cpp
// is added.
#include "engine_internal.h"

int bTree::Delete(const char16_t*) {
    dbErrno = btErrInvalid;
    return -1;
}
