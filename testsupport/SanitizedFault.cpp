// A small program built with the address and undefined-behaviour sanitizers
// in every build, for the tests of how runCommand reports what a sanitizer
// found in a program a test starts. The first argument names what it does:
//   read-past-end    reads one element past the end of a heap block
//   signed-overflow  adds 1 to the largest int
//   leak             loses a heap block and exits 0
//   fail             exits 1, as a program that failed in the ordinary way
//   ok               exits 0
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

// Values the compiler cannot see through, so that the faults stay.
volatile int gSmall = 4;
volatile int gLargest = INT_MAX;
void* volatile gLost = nullptr;

}  // namespace

int main(int argc, char** argv) {
    const char* what = argc > 1 ? argv[1] : "";
    std::printf("doing %s\n", what);
    std::fflush(stdout);
    if (std::strcmp(what, "read-past-end") == 0) {
        int* block = new int[gSmall];
        for (int i = 0; i < gSmall; ++i) block[i] = i;
        int past = block[gSmall];
        delete[] block;
        return past == 12345 ? 3 : 0;
    }
    if (std::strcmp(what, "signed-overflow") == 0) {
        int n = gLargest;
        n += 1;
        return n < 0 ? 0 : 3;
    }
    if (std::strcmp(what, "leak") == 0) {
        gLost = std::malloc(4096);
        std::memset(gLost, 1, 4096);
        gLost = nullptr;
        return 0;
    }
    if (std::strcmp(what, "fail") == 0) return 1;
    if (std::strcmp(what, "ok") == 0) return 0;
    std::fprintf(stderr, "unknown: %s\n", what);
    return 2;
}
