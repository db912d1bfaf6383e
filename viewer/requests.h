// Parsing of request lines and the Del confirmation's upper-casing.
#pragma once

#include <cstddef>

enum { requestNone = 0, requestQuit = 1, requestDel = 2, requestFind = 3, requestList = 4 };

// Returns the request code of a line; for Del and Find the rest of the
// line (trailing white space removed) goes into keyText.
int parseRequest(const char* line, char* keyText, size_t keyTextSize);

// Upper-cases one narrow character through the platform's wide upper-casing.
int charToUpper(char c);
