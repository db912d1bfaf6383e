// Switching trace classes on from a specification such as
// "BTREEDB MEMORY" or "SERVICE -NLS".
#pragma once

#include <string>

// Applies `spec` to the class flag bytes.  Words are separated by blanks
// or commas, letter case does not matter, and they apply left to right:
// a class name switches that class on, an aggregate name (or ALL, every
// class) switches its members on, and "-NAME" switches a class, or every
// class an aggregate would switch on, off again.  Returns 0; or -1 with
// `badWord` set to the first word that names nothing, in which case no
// flag changes.
int traceApplyClassSpec(const char* spec, std::string* badWord);
