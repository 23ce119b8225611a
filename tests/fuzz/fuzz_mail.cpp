// Mail sources of any bytes. The first byte picks the encoding of the parts
// that declare none; the rest is the source. Every message's text is UTF-8,
// the messages come in file order and the last one ends at the end of the
// source; whatever looksLikeMail says, reading must not fail.
#include "app/settings.h"
#include "extract/convModule.h"
#include "extract/mailSource.h"
#include "fuzzCheck.h"

#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using quillon::Encoding;
    quillon::fuzz::InputReader in(data, size);
    static constexpr Encoding kEncodings[] = {Encoding::None, Encoding::ShiftJIS, Encoding::EucJP, Encoding::UTF8,
                                              Encoding::ISO2022JP};
    const Encoding enc = kEncodings[in.pick(5)];
    const std::string_view source = in.rest();
    static_cast<void>(quillon::mailSource::looksLikeMail(source));
    std::size_t number = 0;
    std::size_t end = 0;
    quillon::mailSource::readMail(source, enc, [&](quillon::mailSource::MailMessage&& m) {
        FUZZ_CHECK(m.number == number + 1);
        FUZZ_CHECK(m.end >= end && m.end <= source.size());
        FUZZ_CHECK(quillon::convModule::isValidUtf8(m.text));
        number = m.number;
        end = m.end;
    });
    FUZZ_CHECK(number >= 1);
    FUZZ_CHECK(end == source.size());
    return 0;
}
