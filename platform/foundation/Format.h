// Type-safe printf-style formatting.
//
//   ns::format("%@ has %ld items, %.17g", deck, count, ratio)  -> std::string
//   ns::formatString("%d%%", 50)                                -> Ref<String>
//
// The format string is parsed at run time, but each argument is captured with
// its real C++ type, so a mismatch can never read the wrong memory: it prints
// a marker such as "%!d(double)" instead. Arguments are only ever printed,
// never read as a format, so "%" inside an argument comes out as it is.
//
// Conversions: %@ (description() of an object, "(null)" for nil; text as is)
// %d %i %u %x %X %o %c %C %s %f %F %e %E %g %G %a %A %p %% and the old
// upper-case %D %U %O; length modifiers hh h l ll q L z j t are accepted
// (h and hh narrow the value as printf does); flags - + space 0 # and ';
// width and precision as numbers or '*' (taken from an integer argument);
// positional arguments "%2$@". %n is refused.
//
// Markers for faults: "%!X(type)" wrong argument type, "%!X(MISSING)" too few
// arguments, "%!X(BADVERB)" unknown conversion, "%!(NOVERB)" a lone "%" at
// the end, "%!(EXTRA type, ...)" unused arguments.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <type_traits>

#include "platform/foundation/Object.h"

namespace ns {

class String;

// One captured argument. Text and objects are borrowed: they must outlive the
// format call (arguments of the call always do).
struct FormatArg {
    enum class Kind : uint8_t { Signed, Unsigned, Char, Bool, Double, Text, Object, Pointer, Null };
    Kind kind = Kind::Null;
    uint8_t size = 0;  // byte width of the integer type it came from
    union {
        int64_t i;
        uint64_t u;
        double d;
        const ns::Object* o;
        const void* p;
    };
    std::string_view text;

    FormatArg() : i(0) {}

    template <class T>
    static FormatArg from(const T& v) {
        using D = std::remove_cv_t<T>;
        FormatArg a;
        if constexpr (std::is_same_v<D, bool>) {
            a.kind = Kind::Bool; a.size = 1; a.i = v ? 1 : 0;
        } else if constexpr (std::is_same_v<D, char>) {
            a.kind = Kind::Char; a.size = 1; a.i = static_cast<unsigned char>(v);
        } else if constexpr (std::is_same_v<D, char16_t> || std::is_same_v<D, char32_t> ||
                             std::is_same_v<D, wchar_t> || std::is_same_v<D, char8_t>) {
            a.kind = Kind::Unsigned; a.size = sizeof(D); a.u = static_cast<uint64_t>(v);
        } else if constexpr (std::is_integral_v<D> && std::is_signed_v<D>) {
            a.kind = Kind::Signed; a.size = sizeof(D); a.i = static_cast<int64_t>(v);
        } else if constexpr (std::is_integral_v<D>) {
            a.kind = Kind::Unsigned; a.size = sizeof(D); a.u = static_cast<uint64_t>(v);
        } else if constexpr (std::is_enum_v<D>) {
            return from(static_cast<std::underlying_type_t<D>>(v));
        } else if constexpr (std::is_floating_point_v<D>) {
            a.kind = Kind::Double; a.size = sizeof(D); a.d = static_cast<double>(v);
        } else if constexpr (std::is_same_v<D, std::nullptr_t>) {
            a.kind = Kind::Null;
        } else if constexpr (std::is_same_v<std::decay_t<D>, const char*> ||
                             std::is_same_v<std::decay_t<D>, char*>) {
            const char* s = v;
            if (s) { a.kind = Kind::Text; a.text = std::string_view(s); }
            else a.kind = Kind::Null;
        } else if constexpr (std::is_convertible_v<const D&, std::string_view>) {
            a.kind = Kind::Text; a.text = std::string_view(v);
        } else if constexpr (isRef<D>::value) {
            a.setObject(v.get());
        } else if constexpr (std::is_pointer_v<D> &&
                             std::is_base_of_v<ns::Object, std::remove_cv_t<std::remove_pointer_t<D>>>) {
            a.setObject(v);
        } else if constexpr (std::is_base_of_v<ns::Object, D>) {
            a.setObject(&v);
        } else if constexpr (std::is_pointer_v<D>) {
            if (v) { a.kind = Kind::Pointer; a.p = static_cast<const void*>(v); }
            else a.kind = Kind::Null;
        } else {
            static_assert(sizeof(D) == 0, "ns::format: unsupported argument type");
        }
        return a;
    }

private:
    template <class X> struct isRef : std::false_type {};
    template <class X> struct isRef<Ref<X>> : std::true_type {};
    void setObject(const ns::Object* obj) {
        if (obj) { kind = Kind::Object; o = obj; }
        else kind = Kind::Null;
    }
};

// Appends the formatted text to `out`. Never throws for bad formats or
// mismatched arguments; see the markers above.
void appendFormatArgs(std::string& out, std::string_view fmt, const FormatArg* args, size_t count);
std::string formatArgs(std::string_view fmt, const FormatArg* args, size_t count);

template <class... Args>
std::string format(std::string_view fmt, const Args&... args) {
    if constexpr (sizeof...(Args) == 0) {
        return formatArgs(fmt, nullptr, 0);
    } else {
        const FormatArg list[] = {FormatArg::from(args)...};
        return formatArgs(fmt, list, sizeof...(Args));
    }
}

template <class... Args>
void appendFormat(std::string& out, std::string_view fmt, const Args&... args) {
    if constexpr (sizeof...(Args) == 0) {
        appendFormatArgs(out, fmt, nullptr, 0);
    } else {
        const FormatArg list[] = {FormatArg::from(args)...};
        appendFormatArgs(out, fmt, list, sizeof...(Args));
    }
}

Ref<String> makeStringFromFormatted(std::string&& text);

// Like format(), answering a string object.
template <class... Args>
Ref<String> formatString(std::string_view fmt, const Args&... args) {
    return makeStringFromFormatted(format(fmt, args...));
}

}  // namespace ns
