// A compile-time look at the printf conversions of a text: each row of a text
// table that is a format says what it takes ("lu", "s s", "s s d", "" for
// nothing), and the table's static_assert holds every text to it, so a
// translation that drops, adds or retypes a conversion fails the build.
#pragma once

#include <initializer_list>
#include <type_traits>

namespace textcheck {

// The conversion at text (just past its '%'), written as length and letter
// ("lu", "zu", "s"); a '*' width or precision comes first as its own "*".
// Returns where the conversion ends, or nullptr for one that printf does not take.
constexpr const char* NextConversion(const char* text, char* token, int size) {
    int n = 0;
    const auto put = [&](char c) {
        if (n + 1 < size) token[n++] = c;
    };
    while (*text == '-' || *text == '+' || *text == ' ' || *text == '#' || *text == '0') ++text;
    for (int part = 0; part < 2; ++part) {  // width, then precision after a '.'
        if (part == 1) {
            if (*text != '.') break;
            ++text;
        }
        if (*text == '*') {
            put('*');
            put(' ');
            ++text;
        }
        while (*text >= '0' && *text <= '9') ++text;
    }
    while (*text == 'h' || *text == 'l' || *text == 'z' || *text == 'j' || *text == 't' || *text == 'L') put(*text++);
    constexpr const char kLetters[] = "diouxXeEfFgGaAcsp";
    for (const char c : kLetters) {
        if (c != '\0' && c == *text) {
            put(*text);
            token[n] = '\0';
            return text + 1;
        }
    }
    return nullptr;
}

// Whether the conversions of text, in order, are those declared (separated by
// single spaces). "%%" is no conversion.
constexpr bool ConversionsMatch(const char* text, const char* declared) {
    if (text == nullptr) return true;
    while (*declared == ' ') ++declared;
    for (; *text != '\0'; ++text) {
        if (*text != '%') continue;
        if (text[1] == '%') {
            ++text;
            continue;
        }
        char token[16] = {};
        const char* end = NextConversion(text + 1, token, sizeof token);
        if (end == nullptr) return false;
        for (const char* t = token; *t != '\0'; ++t, ++declared) {
            if (*t == ' ') {
                if (*declared != ' ') return false;
            } else if (*t != *declared) {
                return false;
            }
        }
        // The declared conversion ends here too.
        if (*declared != ' ' && *declared != '\0') return false;
        while (*declared == ' ') ++declared;
        text = end - 1;
    }
    return *declared == '\0';
}

// The conversion an argument of type T is printed with; "" for a type no
// text here takes. size_t is unsigned long on this platform, so "lu" and "zu"
// both take it.
template <typename T>
constexpr const char* KindOf() {
    using U = std::remove_cv_t<T>;
    if constexpr (std::is_same_v<U, const char*> || std::is_same_v<U, char*>) return "s";
    else if constexpr (std::is_same_v<U, int>) return "d";
    else if constexpr (std::is_same_v<U, unsigned>) return "u";
    else if constexpr (std::is_same_v<U, long>) return "ld";
    else if constexpr (std::is_same_v<U, unsigned long>) return "lu";
    else if constexpr (std::is_same_v<U, long long>) return "lld";
    else if constexpr (std::is_same_v<U, unsigned long long>) return "llu";
    else if constexpr (std::is_same_v<U, double>) return "f";
    else return "";
}

constexpr bool SameWord(const char* a, const char* b, int n) {
    for (int i = 0; i < n; ++i) {
        if (a[i] != b[i]) return false;
    }
    return b[n] == '\0';
}

// Whether arguments of the given kinds fit the conversions declared ("s zu"):
// as many, each of its conversion's type ("zu" taking what "lu" takes).
constexpr bool ArgumentsFit(const char* declared, std::initializer_list<const char*> kinds) {
    auto kind = kinds.begin();
    while (*declared != '\0') {
        while (*declared == ' ') ++declared;
        if (*declared == '\0') break;
        int n = 0;
        while (declared[n] != ' ' && declared[n] != '\0') ++n;
        if (kind == kinds.end()) return false;
        const bool size = SameWord(declared, "zu", n);
        if (!SameWord(declared, *kind, n) && !(size && SameWord("lu", *kind, 2))) return false;
        ++kind;
        declared += n;
    }
    return kind == kinds.end();
}

static_assert(ArgumentsFit("s zu", {"s", "lu"}));
static_assert(ArgumentsFit("", {}));
static_assert(!ArgumentsFit("s", {"d"}));
static_assert(!ArgumentsFit("s s", {"s"}));
static_assert(!ArgumentsFit("lu", {"lu", "lu"}));
static_assert(!ArgumentsFit("llu", {"lu"}));

static_assert(ConversionsMatch("%s: error=%ld", "s ld"));
static_assert(ConversionsMatch("100%% of %zu, %.*s", "zu * s"));
static_assert(!ConversionsMatch("%s", "lu"));
static_assert(!ConversionsMatch("%lu", "lu lu"));
static_assert(!ConversionsMatch("%lu %lu", "lu"));
static_assert(!ConversionsMatch("%l", "l"));
static_assert(!ConversionsMatch("%u", "lu"));

}  // namespace textcheck
