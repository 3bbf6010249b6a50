#pragma once

#include <string>
#include <vector>

// What the stand-in for the outside decoding programs (component_standin.cpp) needs from the
// system it runs on.
namespace lumaro::platform::sim::standin {

// The program's arguments after its own name, as UTF-16 texts (on Windows from the wide command
// line, so names outside the code page arrive intact).
std::vector<std::u16string> Arguments(int argc, char** argv);

// Runs this program again on the script `script`, sharing its standard output and error, and
// waits for it to end. Answers false when it could not be started.
bool RunCopy(const std::u16string& script);

}  // namespace lumaro::platform::sim::standin
