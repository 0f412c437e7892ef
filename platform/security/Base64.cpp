#include "platform/security/Base64.h"

#include <array>

namespace sec {

namespace {

constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

constexpr std::array<int8_t, 256> makeTable() {
    std::array<int8_t, 256> t{};
    for (auto& v : t) v = -1;
    for (int i = 0; i < 64; ++i) t[static_cast<unsigned char>(kAlphabet[i])] = static_cast<int8_t>(i);
    return t;
}
constexpr auto kTable = makeTable();

}  // namespace

size_t base64EncodedLength(size_t n, size_t lineLength, LineBreaks breaks) {
    size_t chars = (n + 2) / 3 * 4;
    if (lineLength == 0 || chars == 0) return chars;
    size_t fullLines = chars / lineLength;
    size_t lineEnds = breaks == LineBreaks::AfterEveryFullLine ? fullLines
                                                               : (chars - 1) / lineLength;
    return chars + 2 * lineEnds;
}

std::string base64Encode(std::string_view bytes, size_t lineLength, LineBreaks breaks) {
    std::string out;
    out.reserve(base64EncodedLength(bytes.size(), lineLength, breaks));
    size_t column = 0;
    auto put = [&](char c) {
        if (lineLength && column == lineLength) {
            out += "\r\n";
            column = 0;
        }
        out += c;
        ++column;
    };
    const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
    size_t n = bytes.size(), i = 0;
    for (; i + 3 <= n; i += 3) {
        uint32_t v = (uint32_t(p[i]) << 16) | (uint32_t(p[i + 1]) << 8) | p[i + 2];
        put(kAlphabet[v >> 18]);
        put(kAlphabet[(v >> 12) & 63]);
        put(kAlphabet[(v >> 6) & 63]);
        put(kAlphabet[v & 63]);
    }
    if (n - i == 1) {
        uint32_t v = uint32_t(p[i]) << 16;
        put(kAlphabet[v >> 18]);
        put(kAlphabet[(v >> 12) & 63]);
        put('=');
        put('=');
    } else if (n - i == 2) {
        uint32_t v = (uint32_t(p[i]) << 16) | (uint32_t(p[i + 1]) << 8);
        put(kAlphabet[v >> 18]);
        put(kAlphabet[(v >> 12) & 63]);
        put(kAlphabet[(v >> 6) & 63]);
        put('=');
    }
    if (lineLength && breaks == LineBreaks::AfterEveryFullLine && column == lineLength) out += "\r\n";
    return out;
}

std::optional<std::string> base64Decode(std::string_view text) {
    std::string out;
    out.reserve(text.size() / 4 * 3);
    uint32_t acc = 0;
    int have = 0;      // sextets in acc
    int padding = 0;   // "=" seen
    for (char ch : text) {
        if (ch == '\r' || ch == '\n') continue;
        if (ch == '=') {
            // Padding only completes a group of 2 or 3 sextets.
            if (have + padding < 2) return std::nullopt;
            ++padding;
            if (have + padding > 4) return std::nullopt;
            continue;
        }
        int v = kTable[static_cast<unsigned char>(ch)];
        if (v < 0 || padding) return std::nullopt;  // garbage, or data after padding
        acc = (acc << 6) | static_cast<uint32_t>(v);
        if (++have == 4) {
            out += static_cast<char>(acc >> 16);
            out += static_cast<char>((acc >> 8) & 0xFF);
            out += static_cast<char>(acc & 0xFF);
            acc = 0;
            have = 0;
        }
    }
    if (padding && have + padding != 4) return std::nullopt;
    if (have == 1) return std::nullopt;
    if (have == 2) {
        if (acc & 0xF) return std::nullopt;  // unused bits must be zero
        out += static_cast<char>(acc >> 4);
    } else if (have == 3) {
        if (acc & 0x3) return std::nullopt;
        out += static_cast<char>(acc >> 10);
        out += static_cast<char>((acc >> 2) & 0xFF);
    }
    return out;
}

}  // namespace sec
