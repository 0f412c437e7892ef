// Shared text form of arrays and dictionaries for description():
// the indented, quoted layout that log lines and "%@" print.
#pragma once

#include <string>

namespace ns {
class Object;
std::string describeCollection(const Object* o, int indent);
}  // namespace ns
