#include "cli/terminalText.h"

#include "app/utf8Check.h"

#include <cstdio>

namespace quillon::cli {

namespace {

char32_t decode(const unsigned char* p, std::size_t len) {
    if (len == 1) {
        return p[0];
    }
    char32_t c = p[0] & (0x7F >> len);
    for (std::size_t k = 1; k < len; ++k) {
        c = (c << 6) | (p[k] & 0x3F);
    }
    return c;
}

// Characters that do nothing visible but move, hide or reorder text.
bool invisible(char32_t c) {
    return (c >= 0x80 && c <= 0x9F) || (c >= 0x200B && c <= 0x200F) || (c >= 0x2028 && c <= 0x202E) ||
           (c >= 0x2066 && c <= 0x2069) || c == 0xFEFF;
}

void appendHex(std::string& out, const char* format, unsigned value) {
    char buf[16];
    std::snprintf(buf, sizeof buf, format, value);
    out += buf;
}

} // namespace

std::string terminalSafe(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    const auto* p = reinterpret_cast<const unsigned char*>(text.data());
    for (std::size_t i = 0; i < text.size();) {
        std::size_t bad = 0;
        const std::size_t len = utf8Check::sequence(p + i, text.size() - i, bad);
        if (len == 0) {
            for (std::size_t k = 0; k < bad; ++k) {
                appendHex(out, "\\x%02x", p[i + k]);
            }
            i += bad;
            continue;
        }
        const char32_t c = decode(p + i, len);
        switch (c) {
        case '\n':
            out += "\\n";
            break;
        case '\r':
            out += "\\r";
            break;
        case '\t':
            out += "\\t";
            break;
        case '\\':
            out += "\\\\";
            break;
        default:
            if (c < 0x20 || c == 0x7F) {
                appendHex(out, "\\x%02x", static_cast<unsigned>(c));
            } else if (invisible(c)) {
                appendHex(out, "\\u%04x", static_cast<unsigned>(c));
            } else {
                out.append(text.substr(i, len));
            }
        }
        i += len;
    }
    return out;
}

} // namespace quillon::cli
