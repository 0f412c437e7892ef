#include "platform/foundation/tests/PlistTestData.h"

#include <cstdint>
#include <limits>
#include <string>

namespace ns::testing {

Ref<Dictionary> everyKindOfValue() {
    std::string bytes;
    for (int i = 0; i < 256; ++i) bytes += static_cast<char>(i);
    return Dictionary::make({
        {"string", str("h\xC3\xA9llo & <world> \xF0\x9F\x98\x80")},
        {"whitespace", str("tab\tnewline\ncarriage\rreturn  ")},
        {"empty string", str("")},
        {"key & <reserved> \"quoted\" 'single' ]]>", str("value ]]> & <b> \"q\" 'a' &amp;")},
        {"int", num(42)},
        {"negative", num(-7LL)},
        {"int64 max", Number::numberWithLongLong(std::numeric_limits<long long>::max())},
        {"int64 min", Number::numberWithLongLong(std::numeric_limits<long long>::min())},
        {"uint64 max", Number::numberWithUnsignedLongLong(std::numeric_limits<unsigned long long>::max())},
        {"real", num(3.25)},
        {"tiny real", num(1e-300)},
        {"true", boolean(true)},
        {"false", boolean(false)},
        {"date", Date::dateWithTimeIntervalSince1970(1709210096.0)},  // 2024-02-29T12:34:56Z
        {"data", Data::make(bytes)},
        {"empty data", Data::make("")},
        {"empty array", Array::make()},
        {"empty dict", Dictionary::make()},
        {"nested", Array::make({Dictionary::make({{"a", Array::make({num(1), Array::make({num(2),
                                                       Array::make({num(3)})})})}}),
                                str("after")})},
    });
}

}  // namespace ns::testing
