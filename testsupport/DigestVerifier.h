// The test servers' own reading of Digest authentication, written apart from
// the client's code so that the tests check it independently.
#pragma once

#include <map>
#include <string>

namespace testsupport {

// The MD5 of `s` as 32 lower-case hex digits.
std::string md5hex(const std::string& s);

// Parses `Digest a="b", c=d` into a map.
std::map<std::string, std::string> digestParams(std::string header);

}  // namespace testsupport
