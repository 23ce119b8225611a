#include "list/textCompare.h"

namespace quillon {

namespace {

// The simple case folding of the letters the list compares ignoring case: the
// upper-case letter of each pair maps to its lower-case one. Every mapping
// stays within the same UTF-8 length class, so folding keeps byte lengths.
char32_t foldCodePoint(char32_t c) {
    if (c < 0x100) {
        if (c >= 0xC0 && c <= 0xDE && c != 0xD7) {
            return c + 0x20;
        }
        if (c == 0xB5) {
            return 0x3BC; // the micro sign folds to the Greek mu
        }
        return c;
    }
    if (c == 0x178) {
        return 0xFF; // capital Y with diaeresis
    }
    if (c >= 0x370 && c < 0x400) {
        if (c >= 0x391 && c <= 0x3AB && c != 0x3A2) {
            return c + 0x20;
        }
        if (c == 0x386) {
            return 0x3AC;
        }
        if (c >= 0x388 && c <= 0x38A) {
            return c + 0x25;
        }
        if (c == 0x38C) {
            return 0x3CC;
        }
        if (c == 0x38E || c == 0x38F) {
            return c + 0x3F;
        }
        if (c == 0x3C2) {
            return 0x3C3; // final sigma
        }
        if (c >= 0x3D8 && c <= 0x3EF) {
            return c | 1U;
        }
        return c;
    }
    if (c >= 0x400 && c < 0x530) {
        if (c <= 0x40F) {
            return c + 0x50;
        }
        if (c <= 0x42F) {
            return c + 0x20;
        }
        if ((c >= 0x460 && c <= 0x481) || (c >= 0x48A && c <= 0x4BF) || c >= 0x4D0) {
            return c | 1U;
        }
        if (c == 0x4C0) {
            return 0x4CF;
        }
        if (c >= 0x4C1 && c <= 0x4CE && (c & 1U) != 0) {
            return c + 1;
        }
        return c;
    }
    return c;
}

bool isContinuation(unsigned char b) {
    return (b & 0xC0U) == 0x80U;
}

unsigned char asciiLower(unsigned char b) {
    return (b >= 'A' && b <= 'Z') ? static_cast<unsigned char>(b + 0x20) : b;
}

} // namespace

void foldCaseAppend(std::string_view text, std::string& out) {
    const std::size_t start = out.size();
    out.append(text);
    char* p = out.data() + start;
    const std::size_t n = text.size();
    std::size_t i = 0;
    while (i < n) {
        const auto b = static_cast<unsigned char>(p[i]);
        if (b < 0x80) {
            p[i] = static_cast<char>(asciiLower(b));
            ++i;
            continue;
        }
        // Two-byte sequences up to U+07FF hold the Latin-1, Greek and Cyrillic letters.
        if (b >= 0xC2 && b <= 0xDF && i + 1 < n && isContinuation(static_cast<unsigned char>(p[i + 1]))) {
            const auto b1 = static_cast<unsigned char>(p[i + 1]);
            const char32_t cp = (static_cast<char32_t>(b & 0x1FU) << 6) | (b1 & 0x3FU);
            const char32_t folded = foldCodePoint(cp);
            if (folded != cp) {
                p[i] = static_cast<char>(0xC0U | (folded >> 6));
                p[i + 1] = static_cast<char>(0x80U | (folded & 0x3FU));
            }
            i += 2;
            continue;
        }
        // Full-width capitals U+FF21..U+FF3A (EF BC A1..BA) to U+FF41..U+FF5A (EF BD 81..9A).
        if (b == 0xEF && i + 2 < n && static_cast<unsigned char>(p[i + 1]) == 0xBC) {
            const auto b2 = static_cast<unsigned char>(p[i + 2]);
            if (b2 >= 0xA1 && b2 <= 0xBA) {
                p[i + 1] = static_cast<char>(0xBD);
                p[i + 2] = static_cast<char>(b2 - 0x20);
                i += 3;
                continue;
            }
        }
        // Any other byte (a lead of a longer sequence, a continuation byte, an
        // invalid byte) stays as it is; continuation bytes are never leads, so
        // stepping one byte cannot misread a sequence.
        ++i;
    }
}

std::string foldCase(std::string_view text) {
    std::string out;
    foldCaseAppend(text, out);
    return out;
}

bool equalsIgnoreCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) {
        return false; // folding keeps lengths
    }
    for (std::size_t i = 0; i < a.size(); ++i) {
        const auto ca = static_cast<unsigned char>(a[i]);
        const auto cb = static_cast<unsigned char>(b[i]);
        if (ca >= 0x80 || cb >= 0x80) {
            // Everything before i is ASCII in both texts, so i starts a character in each.
            return foldCase(a.substr(i)) == foldCase(b.substr(i));
        }
        if (asciiLower(ca) != asciiLower(cb)) {
            return false;
        }
    }
    return true;
}

} // namespace quillon
