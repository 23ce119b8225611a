// Mail sources of any bytes. The first byte picks the encoding of the parts
// that declare none; the rest is the source. Every message's text is UTF-8,
// the messages come in file order and the last one ends at the end of the
// source; whatever looksLikeMail says, reading must not fail. Read as it
// comes, in small windows and pieces on two threads, every message is the
// same as read whole.
#include "app/settings.h"
#include "extract/convModule.h"
#include "extract/mailSource.h"
#include "fuzzCheck.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using quillon::Encoding;
    quillon::fuzz::InputReader in(data, size);
    static constexpr Encoding kEncodings[] = {Encoding::None, Encoding::ShiftJIS, Encoding::EucJP, Encoding::UTF8,
                                              Encoding::ISO2022JP};
    const Encoding enc = kEncodings[in.pick(5)];
    const std::size_t headSize = in.pick(256) * 16;
    const std::size_t pieceSize = 1 + in.pick(256) * 8;
    const std::string_view source = in.rest();
    static_cast<void>(quillon::mailSource::looksLikeMail(source));
    std::size_t number = 0;
    std::size_t end = 0;
    std::vector<std::string> texts;
    quillon::mailSource::readMail(source, enc, [&](quillon::mailSource::MailMessage&& m) {
        FUZZ_CHECK(m.number == number + 1);
        FUZZ_CHECK(m.end >= end && m.end <= source.size());
        FUZZ_CHECK(quillon::convModule::isValidUtf8(m.text));
        number = m.number;
        end = m.end;
        texts.push_back(std::to_string(m.end) + (m.damaged ? "!" : ".") + m.messageId + "\n" + m.text);
    });
    std::size_t at = std::min(headSize, source.size());
    const quillon::mailSource::ReadMore more = [&](char* buffer, std::size_t room) {
        const std::size_t n = std::min({room, source.size() - at, pieceSize});
        std::memcpy(buffer, source.data() + at, n);
        at += n;
        return n;
    };
    quillon::mailSource::Reading how;
    how.window = 4096;
    how.threads = 2;
    std::size_t streamed = 0;
    quillon::mailSource::readMail(
        source.substr(0, at), more, enc,
        [&](quillon::mailSource::MailMessage&& m) {
            FUZZ_CHECK(streamed < texts.size() && m.number == streamed + 1);
            FUZZ_CHECK(texts[streamed] ==
                       std::to_string(m.end) + (m.damaged ? "!" : ".") + m.messageId + "\n" + m.text);
            ++streamed;
        },
        {}, how);
    FUZZ_CHECK(streamed == texts.size());
    FUZZ_CHECK(number >= 1);
    FUZZ_CHECK(end == source.size());
    return 0;
}
