// A server's own reading of application/x-www-form-urlencoded bodies and
// queries, written apart from the encoders under test so that a test checks
// what was sent independently.
#pragma once

#include <map>
#include <string>
#include <utility>
#include <vector>

namespace testsupport {

// %XX escapes decoded (a malformed escape is kept as it stands); '+' is a
// blank when `plusIsSpace`.
std::string percentDecode(const std::string& s, bool plusIsSpace = true);

// The name/value pairs of "a=1&b=2" in order, duplicates and empty pieces
// kept (a piece without "=" has the value ""), so that stray separators
// show; an empty body has none.
std::vector<std::pair<std::string, std::string>> formPairs(const std::string& body);

// name -> value of "a=1&b=2" (later duplicates win; empty pieces skipped).
std::map<std::string, std::string> formFields(const std::string& body);

// The path and the query of a request target.
std::string pathOf(const std::string& target);
std::string queryOf(const std::string& target);

}  // namespace testsupport
