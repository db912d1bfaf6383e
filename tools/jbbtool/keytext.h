// Names as a user gives them to jbbtool, on the command line or a line of
// a file of names: UTF-8 text, or "%key HEX" (the name's UTF-16 units, four
// hexadecimal digits each, as a dump's %key line gives them) for a name
// that UTF-8 cannot give (an unpaired surrogate) or a line cannot carry (a
// line end).
#pragma once

#include <string>

namespace jbbtool {

// The key that `text` names; false with `why` set when it is not UTF-8 or
// its %key form is malformed.
bool keyFromText(const std::string& text, std::u16string* key, std::string* why);

}  // namespace jbbtool
