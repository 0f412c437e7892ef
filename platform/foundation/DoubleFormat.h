// Seventeen significant digits, the text printf's "%.17g" gives (the form
// that always reads back as the same double), without printf: exact integer
// arithmetic for the usual magnitudes, the library's formatter for the rest.
#pragma once

namespace ns {

// Writes the text of a finite `v` at `out` (at least 40 bytes: whole
// groups of digits are copied past the text's end) and returns
// the end of it.
char* formatDouble17(double v, char* out);

}  // namespace ns
