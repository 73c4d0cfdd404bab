#pragma once
// The case-insensitive collation of sorted lists and of the message token set.
//
// Two texts are compared byte by byte after folding the letters A-Z to a-z;
// bytes 128 and up are compared as they are (no character set is assumed).
// The order this gives, from low to high:
//   control characters, blank and ! " # $ % & ' ( ) * + , - . /
//   digits 0-9
//   : ; < = > ? @
//   [ \ ] ^ _ `
//   letters (A and a together, ... Z and z together)
//   { | } ~ and byte 127
//   bytes 128 to 255 in byte order.
// Texts equal apart from letter case compare equal; a text sorts after every
// proper prefix of it.
#include <string_view>

namespace platform {

// < 0, 0 or > 0.
int CompareTextIgnoreCase(std::string_view a, std::string_view b);
bool SameTextIgnoreCase(std::string_view a, std::string_view b);

struct LessIgnoreCase {
    using is_transparent = void;
    bool operator()(std::string_view a, std::string_view b) const {
        return CompareTextIgnoreCase(a, b) < 0;
    }
};

inline unsigned char FoldCase(unsigned char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<unsigned char>(c + ('a' - 'A')) : c;
}

} // namespace platform
