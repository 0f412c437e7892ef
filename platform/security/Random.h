// Randomness from OpenSSL's generator, for nonces, identifiers and keys.
// Failure of the generator (not seeded, library broken) throws
// std::runtime_error rather than answering weak bytes.
#pragma once

#include <cstdint>
#include <string>

namespace sec {

// `count` random bytes.
std::string randomBytes(size_t count);
void fillRandom(void* buffer, size_t count);

// A uniformly distributed integer in [0, bound) (rejection sampling, no
// modulo bias). A bound of 0 answers 0.
uint64_t randomUniform(uint64_t bound);
// A uniformly distributed integer in [low, high]; low > high answers low.
int64_t randomInRange(int64_t low, int64_t high);

// A random (version 4, RFC 9562) UUID in the usual textual form: 36
// characters, upper-case hexadecimal in groups 8-4-4-4-12.
std::string uuidString();

}  // namespace sec
