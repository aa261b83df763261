#pragma once

#include <cstddef>
#include <type_traits>

// Compile-time check of a log call's arguments against its printf-style text, in the dialect
// the log accepts on every platform (the Windows one, %I64d included). The compilers' own
// format attributes cannot do this: GCC on Linux reads "%I64d" as flag 'I', width 64 and an int,
// and MinGW's ms_printf checking rejects the I64 length under -Wpedantic.
namespace quietway::log_format {

// What one argument looks like after the default argument promotions.
struct ArgKind {
    bool integer = false;
    bool floating = false;
    bool text = false;       // char string
    bool wide_text = false;  // wchar_t string
    bool pointer = false;
    size_t size = 0;
};

template <class T>
consteval ArgKind kind_of() {
    using U = std::remove_cv_t<T>;
    ArgKind kind;
    if constexpr (std::is_integral_v<U> ||
                  (std::is_enum_v<U> && std::is_convertible_v<U, long long>)) {
        kind.integer = true;
        kind.size = sizeof(U) < sizeof(int) ? sizeof(int) : sizeof(U);
    } else if constexpr (std::is_same_v<U, float> || std::is_same_v<U, double>) {
        kind.floating = true;
        kind.size = sizeof(double);
    } else if constexpr (std::is_pointer_v<U>) {
        using Pointee = std::remove_cv_t<std::remove_pointer_t<U>>;
        kind.pointer = true;
        kind.text = std::is_same_v<Pointee, char>;
        kind.wide_text = std::is_same_v<Pointee, wchar_t>;
        kind.size = sizeof(U);
    }
    return kind;
}

// The conversion at `p` (just after '%') is checked against the arguments from `next` on;
// returns the position after it, or nullptr when it does not fit.
consteval const char* check_conversion(const char* p, const ArgKind* args, size_t count,
                                       size_t& next) {
    const auto take_int = [&]() {
        return next < count && args[next].integer && args[next++].size == sizeof(int);
    };
    while (*p == '-' || *p == '+' || *p == ' ' || *p == '#' || *p == '0') ++p;
    if (*p == '*') {
        if (!take_int()) return nullptr;
        ++p;
    }
    while (*p >= '0' && *p <= '9') ++p;
    if (*p == '.') {
        ++p;
        if (*p == '*') {
            if (!take_int()) return nullptr;
            ++p;
        }
        while (*p >= '0' && *p <= '9') ++p;
    }
    size_t size = sizeof(int);
    bool wide = false;
    if (p[0] == 'I' && p[1] == '6' && p[2] == '4') {
        size = 8, p += 3;
    } else if (p[0] == 'I' && p[1] == '3' && p[2] == '2') {
        p += 3;
    } else if (p[0] == 'l' && p[1] == 'l') {
        size = sizeof(long long), p += 2;
    } else if (*p == 'l') {
        size = sizeof(long), wide = true, ++p;
    } else if (*p == 'z') {
        size = sizeof(size_t), ++p;
    } else if (p[0] == 'h') {
        p += p[1] == 'h' ? 2 : 1;
    }
    if (next >= count) return nullptr;
    const ArgKind& arg = args[next++];
    switch (*p) {
        case 'd':
        case 'i':
        case 'u':
        case 'x':
        case 'X':
        case 'o':
            return arg.integer && arg.size == size ? p + 1 : nullptr;
        case 'c':
            return arg.integer && arg.size == sizeof(int) && size == sizeof(int) ? p + 1 : nullptr;
        case 's':
            return (wide ? arg.wide_text : arg.text) ? p + 1 : nullptr;
        case 'p':
            return arg.pointer && size == sizeof(int) ? p + 1 : nullptr;
        case 'f':
        case 'e':
        case 'E':
        case 'g':
        case 'G':
            return arg.floating && (size == sizeof(int) || wide) ? p + 1 : nullptr;
        default:
            return nullptr;  // %n and anything unknown
    }
}

// True when every conversion of `format` has an argument of a fitting kind and no argument is
// left over.
template <class... Args>
consteval bool matches(const char* format) {
    constexpr ArgKind args[sizeof...(Args) + 1] = {kind_of<Args>()...};
    size_t next = 0;
    for (const char* p = format; *p != '\0'; ++p) {
        if (*p != '%') continue;
        if (p[1] == '%') {
            ++p;
            continue;
        }
        p = check_conversion(p + 1, args, sizeof...(Args), next);
        if (p == nullptr) return false;
        --p;
    }
    return next == sizeof...(Args);
}

// Not constexpr: reaching it during constant evaluation is the compile error that reports a
// log call whose arguments do not fit its text.
inline void log_arguments_do_not_match_format() {}

// A log call's format text, checked against the call's arguments when the call is compiled.
// A text that is not a literal (a choice between literals) is accepted only without arguments.
template <class... Args>
class Checked {
public:
    template <size_t N>
    consteval Checked(const char (&text)[N]) : text_(text) {
        if (!matches<Args...>(text)) log_arguments_do_not_match_format();
    }
    template <class Text>
    requires(sizeof...(Args) == 0 && std::is_same_v<Text, const char*>) Checked(Text text)
        : text_(text) {}

    const char* text() const { return text_; }

private:
    const char* text_;
};

}  // namespace quietway::log_format
