// The conversion to UTF-8 from each encoding and back to Shift_JIS. The first
// byte picks the encoding (or the guess); the rest is the text.
#include "extract/convModule.h"
#include "fuzzCheck.h"

#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

namespace {

using quillon::Encoding;

// The characters of a byte text read as UTF-8: each valid sequence is one
// character, and so is each maximal part of an invalid one.
// Sets `valid` to whether there was no invalid part.
std::size_t utf8Characters(std::string_view text, bool& valid) {
    const auto* p = reinterpret_cast<const unsigned char*>(text.data());
    std::size_t count = 0;
    valid = true;
    for (std::size_t i = 0; i < text.size(); ++count) {
        bool complete = false;
        i += quillon::fuzz::utf8ByDefinition(p + i, text.size() - i, complete);
        valid = valid && complete;
    }
    return count;
}

// The characters of a Shift_JIS (CP932) text: a lead byte and the byte after
// it are one, every other byte is one.
std::size_t sjisCharacters(std::string_view text) {
    std::size_t count = 0;
    for (std::size_t i = 0; i < text.size(); ++count) {
        const auto b = static_cast<unsigned char>(text[i]);
        const bool lead = (b >= 0x81 && b <= 0x9F) || (b >= 0xE0 && b <= 0xFC);
        i += lead && i + 1 < text.size() ? 2 : 1;
    }
    return count;
}

// Converting to Shift_JIS never cuts short: one output character (or "?") for
// every input character, valid or not.
void checkToSjis(std::string_view utf8) {
    bool valid = false;
    const std::size_t characters = utf8Characters(utf8, valid);
    const auto sjis = quillon::convModule::convToSJIS(utf8);
    FUZZ_CHECK(sjisCharacters(sjis.bytes) == characters);
    FUZZ_CHECK(sjis.replaced <= characters);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) {
        return 0;
    }
    static constexpr Encoding kEncodings[] = {Encoding::ShiftJIS,  Encoding::EucJP, Encoding::UTF8,
                                              Encoding::ISO2022JP, Encoding::UTF16, Encoding::None};
    quillon::fuzz::InputReader in(data, size);
    const Encoding enc = kEncodings[in.pick(sizeof kEncodings / sizeof kEncodings[0])];
    const std::string_view raw = in.rest();

    const std::string sample = quillon::convModule::guessSample(raw);
    const auto result = quillon::convModule::convToUTF8(raw, enc, sample);
    bool valid = false;
    utf8Characters(result.text, valid);
    FUZZ_CHECK(valid);
    FUZZ_CHECK(enc == Encoding::None ? result.used != Encoding::None : result.used == enc);
    if (result.used != Encoding::ISO2022JP && !raw.empty()) {
        // Only the escape sequences of ISO-2022-JP stand for no character.
        FUZZ_CHECK(!result.text.empty());
    }
    if (enc == Encoding::UTF8) {
        bool rawValid = false;
        utf8Characters(raw, rawValid);
        FUZZ_CHECK(rawValid == (result.invalid == 0));
        if (rawValid) {
            FUZZ_CHECK(result.text == raw);
        }
    }

    // Text in ASCII reads the same in every encoding but UTF-16 (and in
    // ISO-2022-JP when it holds no escapes or shifts); in EUC-JP and UTF-8 no
    // ASCII byte can belong to another character, so each one survives, in
    // order, whatever surrounds it.
    const auto ascii = [](std::string_view text) {
        std::string out;
        for (const char c : text) {
            if (static_cast<unsigned char>(c) < 0x80) {
                out += c;
            }
        }
        return out;
    };
    const bool allAscii = ascii(raw).size() == raw.size();
    const bool shifts = raw.find_first_of("\x1B\x0E\x0F") != std::string_view::npos;
    if (allAscii && result.used != Encoding::UTF16 && (result.used != Encoding::ISO2022JP || !shifts)) {
        FUZZ_CHECK(result.text == raw);
    }
    if (result.used == Encoding::EucJP || result.used == Encoding::UTF8) {
        FUZZ_CHECK(ascii(result.text) == ascii(raw));
    }
    // UTF-16 bytes without a byte-order mark are in the host's order, like
    // the clipboard's text.
    if (enc == Encoding::UTF16 && !raw.starts_with("\xFE\xFF") && !raw.starts_with("\xFF\xFE")) {
        std::u16string units(raw.size() / 2, u'\0');
        std::memcpy(units.data(), raw.data(), units.size() * 2);
        std::string expected = quillon::convModule::utf16ToUTF8(units);
        if (raw.size() % 2 != 0) {
            expected += "\xEF\xBF\xBD";
        }
        FUZZ_CHECK(result.text == expected);
    }

    checkToSjis(result.text);
    checkToSjis(raw);
    return 0;
}
