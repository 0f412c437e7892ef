// Feeds arbitrary bytes to the HTML reader: it must neither crash nor loop,
// and what it answers must be valid UTF-8 whenever the input was.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "platform/foundation/String.h"
#include "platform/ui/WebView.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string_view html(reinterpret_cast<const char*>(data), size);
    bool valid = ns::isValidUTF8(data, size);
    std::string text = ui::htmlToText(html);
    auto links = ui::htmlLinks(html);
    std::string decoded = ui::decodeEntities(html);
    if (valid) {
        if (!ns::isValidUTF8(text.data(), text.size())) __builtin_trap();
        if (!ns::isValidUTF8(decoded.data(), decoded.size())) __builtin_trap();
        for (auto& l : links)
            if (!ns::isValidUTF8(l.text.data(), l.text.size())) __builtin_trap();
    }
    return 0;
}
