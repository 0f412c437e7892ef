// Base64 with the standard alphabet (RFC 4648 section 4) and "=" padding.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace sec {

enum class LineBreaks {
    Between,            // CR LF between lines, none after the last (MIME style)
    AfterEveryFullLine  // CR LF after each full line, the last one included
};

// Encodes `bytes`. A `lineLength` of 0 writes one line; otherwise a CR LF is
// placed after every `lineLength` characters as `breaks` says (64 and 76 are
// the usual lengths).
std::string base64Encode(std::string_view bytes, size_t lineLength = 0,
                         LineBreaks breaks = LineBreaks::Between);

// Length of base64Encode's result, without encoding.
size_t base64EncodedLength(size_t inputLength, size_t lineLength = 0,
                           LineBreaks breaks = LineBreaks::Between);

// Decodes text. CR and LF are skipped (wrapped input); anything else outside
// the alphabet, padding in the wrong place, a length that cannot come from
// an encoder, or non-zero unused bits give nullopt. Missing final padding is
// accepted.
std::optional<std::string> base64Decode(std::string_view text);

}  // namespace sec
