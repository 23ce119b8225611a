#include "extract/mailSource.h"

#include "app/utf8Check.h"

#include "extract/convModule.h"
#include "extract/encodingVerdict.h"

#include "extract/gmimeLoader.h"
#include <iconv.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstring>
#include <deque>
#include <exception>
#include <limits>
#include <memory>
#include <mutex>
#include <optional>
#include <system_error>
#include <thread>
#include <vector>

#if defined(__x86_64__)
#include <immintrin.h>
#elif defined(__SSE2__)
#include <emmintrin.h>
#endif

// GMime is a GObject library: its objects are reference-counted C structures
// and its type checks are macros full of C casts. This file keeps all of it;
// nothing of GLib or GMime shows in the header.

namespace quillon::mailSource {

namespace {

// ---- Lines and header syntax ------------------------------------------------

char lower(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

std::string lowered(std::string_view s) {
    std::string out(s);
    std::transform(out.begin(), out.end(), out.begin(), lower);
    return out;
}

// The line starting at `at`, without its line end.
std::string_view lineAt(std::string_view text, std::size_t at) {
    const std::size_t nl = text.find('\n', at);
    std::string_view line = text.substr(at, nl == std::string_view::npos ? std::string_view::npos : nl - at);
    if (!line.empty() && line.back() == '\r') {
        line.remove_suffix(1);
    }
    return line;
}

// Where the line after the one starting at `at` begins (text.size() at the end).
std::size_t nextLine(std::string_view text, std::size_t at) {
    const std::size_t nl = text.find('\n', at);
    return nl == std::string_view::npos ? text.size() : nl + 1;
}

bool isDigit(char c) {
    return c >= '0' && c <= '9';
}

// An mbox separator: "From ", a sender, and a date with its time of day
// ("From taro@example.jp Mon Jan  1 12:00:00 2024"). The time keeps a body line
// such as "From now on, ..." from being taken for one.
bool isFromLine(std::string_view line) {
    if (line.size() < 12 || line.size() > 1000 || line.substr(0, 5) != "From " || line[5] == ' ') {
        return false;
    }
    for (std::size_t i = 6; i + 3 < line.size(); ++i) {
        if (isDigit(line[i]) && line[i + 1] == ':' && isDigit(line[i + 2]) && isDigit(line[i + 3])) {
            return true;
        }
    }
    return false;
}

// The name of a header line ("Name: value"), or empty when the line is not
// one. A name is 1 to 76 printable ASCII characters other than ":".
std::string_view headerName(std::string_view line) {
    const std::size_t colon = line.find(':');
    if (colon == 0 || colon == std::string_view::npos || colon > 76) {
        return {};
    }
    for (std::size_t i = 0; i < colon; ++i) {
        const auto c = static_cast<unsigned char>(line[i]);
        if (c <= 32 || c >= 127) {
            return {};
        }
    }
    return line.substr(0, colon);
}

bool isContinuation(std::string_view line) {
    return !line.empty() && (line[0] == ' ' || line[0] == '\t');
}

// Header names that only mail carries; two of them (one after an mbox "From "
// line) make a header block a mail's.
bool isMailHeader(std::string_view name) {
    static constexpr std::array<std::string_view, 30> kNames = {
        "from",
        "to",
        "cc",
        "bcc",
        "subject",
        "date",
        "message-id",
        "received",
        "return-path",
        "reply-to",
        "sender",
        "delivered-to",
        "mime-version",
        "content-type",
        "in-reply-to",
        "references",
        "x-mailer",
        "user-agent",
        "dkim-signature",
        "authentication-results",
        "x-original-to",
        "envelope-to",
        "list-id",
        "list-unsubscribe",
        "thread-topic",
        "thread-index",
        "x-mozilla-status",
        "arc-seal",
        "content-transfer-encoding",
        "x-received",
    };
    const std::string wanted = lowered(name);
    return std::find(kNames.begin(), kNames.end(), wanted) != kNames.end();
}

bool isPlainAscii(std::string_view bytes) {
    return std::all_of(bytes.begin(), bytes.end(), [](char c) {
        const auto u = static_cast<unsigned char>(c);
        return u < 0x80 && u != 0x1b;
    });
}

// Ends `out` with a line end, so that two texts never join into one address.
void endLine(std::string& out) {
    if (!out.empty() && out.back() != '\n') {
        out.push_back('\n');
    }
}

// ---- Charsets ----------------------------------------------------------------

enum class Declared { None, Ascii, Japanese, Other };

// What a part's charset parameter names. The Japanese charsets and their usual
// aliases are converted by convModule; any other charset by iconv.
Declared declaredCharset(const char* charset, Encoding& japanese) {
    if (charset == nullptr || *charset == '\0') {
        return Declared::None;
    }
    const std::string name = lowered(charset);
    struct Alias {
        std::string_view name;
        Encoding enc;
    };
    static constexpr std::array<Alias, 27> kJapanese = {{
        {"iso-2022-jp", Encoding::ISO2022JP},
        {"csiso2022jp", Encoding::ISO2022JP},
        {"iso-2022-jp-1", Encoding::ISO2022JP},
        {"iso-2022-jp-2", Encoding::ISO2022JP},
        {"iso-2022-jp-3", Encoding::ISO2022JP},
        {"iso2022jp", Encoding::ISO2022JP},
        {"jis", Encoding::ISO2022JP},
        {"shift_jis", Encoding::ShiftJIS},
        {"shift-jis", Encoding::ShiftJIS},
        {"sjis", Encoding::ShiftJIS},
        {"x-sjis", Encoding::ShiftJIS},
        {"ms_kanji", Encoding::ShiftJIS},
        {"csshiftjis", Encoding::ShiftJIS},
        {"cp932", Encoding::ShiftJIS},
        {"windows-31j", Encoding::ShiftJIS},
        {"ms932", Encoding::ShiftJIS},
        {"x-ms-cp932", Encoding::ShiftJIS},
        {"euc-jp", Encoding::EucJP},
        {"eucjp", Encoding::EucJP},
        {"x-euc-jp", Encoding::EucJP},
        {"x-euc", Encoding::EucJP},
        {"ujis", Encoding::EucJP},
        {"cseucpkdfmtjapanese", Encoding::EucJP},
        {"utf-8", Encoding::UTF8},
        {"utf8", Encoding::UTF8},
        {"unicode-1-1-utf-8", Encoding::UTF8},
        {"x-unicode20utf8", Encoding::UTF8},
    }};
    for (const Alias& a : kJapanese) {
        if (a.name == name) {
            japanese = a.enc;
            return Declared::Japanese;
        }
    }
    if (name == "us-ascii" || name == "ascii" || name == "ansi_x3.4-1968" || name == "iso646-us") {
        return Declared::Ascii;
    }
    return Declared::Other;
}

// Converts from a charset iconv knows, every invalid sequence becoming U+FFFD.
// False when iconv has no converter for it.
bool iconvToUtf8(std::string_view bytes, const char* charset, std::string& out, std::size_t& invalid) {
    iconv_t cd = g_mime_iconv_open("UTF-8", charset);
    if (cd == reinterpret_cast<iconv_t>(static_cast<std::intptr_t>(-1))) {
        return false;
    }
    char* in = const_cast<char*>(bytes.data());
    std::size_t inLeft = bytes.size();
    std::array<char, 16384> buffer; // left uninitialised: iconv fills what is read
    while (true) {
        char* outPtr = buffer.data();
        std::size_t outLeft = buffer.size();
        const std::size_t rc =
            inLeft == 0 ? iconv(cd, nullptr, nullptr, &outPtr, &outLeft) : iconv(cd, &in, &inLeft, &outPtr, &outLeft);
        const int err = errno;
        out.append(buffer.data(), static_cast<std::size_t>(outPtr - buffer.data()));
        if (rc != static_cast<std::size_t>(-1)) {
            if (inLeft == 0) {
                break;
            }
            continue;
        }
        if (err == E2BIG) {
            continue;
        }
        // EILSEQ or EINVAL (a sequence cut by the end): skip one byte.
        out.append("\xEF\xBF\xBD");
        ++invalid;
        ++in;
        --inLeft;
    }
    g_mime_iconv_close(cd);
    return true;
}

// Appends `bytes` converted to UTF-8 to the message's text, from what the
// part declares, or where it declares nothing (or nothing iconv knows, or
// US-ASCII while holding other bytes) from the caller's encoding, or with
// None from the encoding the whole-text verdict names. Where that reading
// gives invalid sequences, or the charset a part names does not fit its
// bytes, the text as read in the encoding the bytes seem to be in is added
// too, so a wrong label or a wrong choice loses nothing. What the first
// part that declares nothing seems to be in is noted in the message.
void appendConverted(std::string_view bytes, const char* charset, Encoding enc, MailMessage& m) {
    if (bytes.empty()) {
        return;
    }
    std::string& out = m.text;
    endLine(out);
    if (isPlainAscii(bytes)) {
        out.append(bytes);
        return;
    }
    encodingVerdict::Evidence evidence;
    if (bytes.find('\0') == std::string_view::npos && bytes.find('\x1b') == std::string_view::npos &&
        convModule::isValidUtf8(bytes)) {
        // Valid UTF-8 with 8-bit characters (no escape, no NUL) is judged
        // UTF-8 whatever else it reads as: no need to read it three more ways.
        evidence.feedValidUtf8(bytes.size(), true);
    } else {
        evidence.feed(bytes);
    }
    const encodingVerdict::Verdict verdict = evidence.verdict();
    const bool text = verdict.kind == encodingVerdict::Verdict::Kind::Text;
    Encoding japanese = Encoding::None;
    const Declared declared = declaredCharset(charset, japanese);
    std::size_t invalid = 0;
    Encoding used = Encoding::None;
    if (declared == Declared::Japanese) {
        convModule::ConvResult r = convModule::convToUTF8(bytes, japanese);
        out.append(r.text);
        invalid = r.invalid;
        used = japanese;
    } else if (declared != Declared::Other || !iconvToUtf8(bytes, charset, out, invalid)) {
        used = enc == Encoding::None ? verdict.guess() : enc;
        convModule::ConvResult r = convModule::convToUTF8(bytes, used);
        out.append(r.text);
        invalid = r.invalid;
        if (text && m.unnamedLikely == Encoding::None) {
            m.unnamedLikely = verdict.likely;
            m.unnamedUsed = used;
        }
        if (invalid == 0) {
            m.invalid += invalid;
            return; // the reading that was asked for
        }
    }
    m.invalid += invalid;
    if (invalid > 0 || (text && !verdict.fits(used))) {
        const Encoding other = text ? verdict.likely : convModule::guessEncoding(bytes.substr(0, 2048));
        if (other != used && other != Encoding::None) {
            endLine(out);
            out.append(convModule::convToUTF8(bytes, other).text);
        }
    }
}

// ---- GMime ------------------------------------------------------------------

void initGMime() {
    static std::once_flag once;
    std::call_once(once, [] { g_mime_init(); });
}

struct Unref {
    void operator()(void* object) const { g_object_unref(object); }
};
template <typename T> using Ref = std::unique_ptr<T, Unref>;

bool isA(void* object, GType type) {
    return object != nullptr && g_type_check_instance_is_a(static_cast<GTypeInstance*>(object), type) != 0;
}

// The bytes of a GMime stream, from its start.
std::string streamBytes(GMimeStream* stream) {
    std::string bytes;
    if (stream == nullptr) {
        return bytes;
    }
    g_mime_stream_reset(stream);
    const gint64 length = g_mime_stream_length(stream);
    std::size_t have = 0;
    bytes.resize(length > 0 ? static_cast<std::size_t>(length) : 4096);
    while (true) {
        if (have == bytes.size()) {
            bytes.resize(bytes.size() * 2);
        }
        const ssize_t n = g_mime_stream_read(stream, bytes.data() + have, bytes.size() - have);
        if (n <= 0) {
            break;
        }
        have += static_cast<std::size_t>(n);
    }
    bytes.resize(have);
    return bytes;
}

// The bytes base64 text may hold: its alphabet, padding and line ends.
constexpr std::array<bool, 256> makeBase64Table() {
    std::array<bool, 256> table{};
    for (int c = 0; c < 256; ++c) {
        table[static_cast<std::size_t>(c)] = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') ||
                                             (c >= '0' && c <= '9') || c == '+' || c == '/' || c == '=' || c == '\r' ||
                                             c == '\n' || c == ' ' || c == '\t';
    }
    return table;
}
constexpr std::array<bool, 256> kBase64 = makeBase64Table();

bool isCleanBase64(std::string_view raw) {
    bool clean = true;
    for (const char c : raw) {
        clean &= kBase64[static_cast<unsigned char>(c)];
    }
    return clean;
}

// Undoes base64 or quoted-printable; other transfer encodings are taken as
// they are. `clean` turns false when base64 holds bytes outside its alphabet
// (the decoder skips them, so what it gives may be garbage).
std::string transferDecoded(const std::string& raw, GMimeContentEncoding encoding, bool& clean) {
    clean = true;
    if (encoding != GMIME_CONTENT_ENCODING_BASE64 && encoding != GMIME_CONTENT_ENCODING_QUOTEDPRINTABLE) {
        return raw;
    }
    if (encoding == GMIME_CONTENT_ENCODING_BASE64) {
        clean = isCleanBase64(raw);
    }
    GMimeEncoding state;
    g_mime_encoding_init_decode(&state, encoding);
    std::string decoded(g_mime_encoding_outlen(&state, raw.size()) + 4, '\0');
    const std::size_t n = g_mime_encoding_flush(&state, raw.data(), raw.size(), decoded.data());
    decoded.resize(n);
    return decoded;
}

// Leaf parts whose content is text: every text/* part, the message/* parts
// that are not whole messages (delivery reports and the like), and parts sent
// as application/octet-stream under a text file's name.
bool isTextPart(GMimeObject* part) {
    GMimeContentType* type = g_mime_object_get_content_type(part);
    const char* media = type != nullptr ? g_mime_content_type_get_media_type(type) : "text";
    if (media == nullptr || g_ascii_strcasecmp(media, "text") == 0 || g_ascii_strcasecmp(media, "message") == 0) {
        return true;
    }
    if (!g_mime_content_type_is_type(type, "application", "octet-stream")) {
        return false;
    }
    const char* filename = g_mime_part_get_filename(reinterpret_cast<GMimePart*>(part));
    if (filename == nullptr) {
        return false;
    }
    const std::string name = lowered(filename);
    static constexpr std::array<std::string_view, 8> kTextEndings = {".txt", ".csv",  ".tsv", ".eml",
                                                                     ".htm", ".html", ".vcf", ".log"};
    return std::any_of(kTextEndings.begin(), kTextEndings.end(), [&](std::string_view ending) {
        return name.size() >= ending.size() && name.compare(name.size() - ending.size(), ending.size(), ending) == 0;
    });
}

// What the parser warned of that means part of the message may not have been
// read as it should.
bool isDamage(GMimeParserWarning warning) {
    switch (warning) {
    case GMIME_WARN_INVALID_CONTENT_TYPE:
    case GMIME_WARN_MALFORMED_MULTIPART:
    case GMIME_WARN_TRUNCATED_MESSAGE:
    case GMIME_WARN_MALFORMED_MESSAGE:
    case GMIME_CRIT_INVALID_HEADER_NAME:
    case GMIME_CRIT_CONFLICTING_HEADER:
    case GMIME_CRIT_CONFLICTING_PARAMETER:
    case GMIME_CRIT_MULTIPART_WITHOUT_BOUNDARY:
    case GMIME_CRIT_NESTING_OVERFLOW:
    case GMIME_CRIT_PART_WITHOUT_HEADERS_OR_CONTENT:
        return true;
    default:
        return false;
    }
}

void onWarning(gint64 /*offset*/, GMimeParserWarning warning, const gchar* item, gpointer damaged) {
    // Headers that repeat with other values are the rule in mail (Received,
    // among others): only a second Content-Type or transfer encoding may
    // have made the parser read the body in a way it was not meant.
    if (warning == GMIME_CRIT_CONFLICTING_HEADER) {
        if (item != nullptr && (g_ascii_strcasecmp(item, "Content-Type") == 0 ||
                                g_ascii_strcasecmp(item, "Content-Transfer-Encoding") == 0)) {
            *static_cast<bool*>(damaged) = true;
        }
        return;
    }
    if (isDamage(warning)) {
        *static_cast<bool*>(damaged) = true;
    }
}

// Reads one message (its bytes without the mbox "From " line).
class MessageReader {
public:
    MessageReader(Encoding enc, MailMessage& message) : m_enc(enc), m_message(message) {
        m_options = g_mime_parser_options_new();
        g_mime_parser_options_set_warning_callback(m_options, onWarning, &m_structureDamaged);
    }
    ~MessageReader() { g_mime_parser_options_free(m_options); }
    MessageReader(const MessageReader&) = delete;
    MessageReader& operator=(const MessageReader&) = delete;

    // `headerBlock` is the message's header block with its mbox "From " line.
    void readHeaders(std::string_view headerBlock) { appendHeaders(headerBlock, &m_message.messageId); }

    // `bytes` is the message without its mbox "From " line, its body at
    // `bodyStart`; `stream` holds it (or only the fields of its header block
    // that bear on its structure, then its body).
    void readBody(std::string_view bytes, std::size_t bodyStart, GMimeParser* parser, GMimeStream* stream) {
        // The top entity is read as a MIME part, not a message: its headers
        // are taken from the raw block, and GMime need not parse the address
        // lists and the date of every message.
        g_mime_parser_init_with_stream(parser, stream);
        g_mime_parser_set_format(parser, GMIME_FORMAT_MESSAGE);
        Ref<GMimeObject> top(g_mime_parser_construct_part(parser, m_options));
        if (top == nullptr) {
            m_structureDamaged = true;
        } else {
            walk(top.get(), 0);
        }
        if (m_structureDamaged && bodyStart < bytes.size()) {
            // What the parser could not place may hold addresses: scan the
            // raw body as well.
            appendConverted(bytes.substr(bodyStart), nullptr, m_enc, m_message);
            m_message.damaged = true;
        }
        endLine(m_message.text);
    }

private:
    // The header block as it is written, except that a field holding encoded
    // words ("=?charset?B?...?=") is given decoded, as a mail reader shows it.
    // Sets `messageId`, when given, to the block's Message-ID.
    void appendHeaders(std::string_view block, std::string* messageId = nullptr) {
        std::size_t at = 0;
        std::size_t rawFrom = 0; // start of the fields not yet appended
        while (at < block.size()) {
            const std::size_t fieldStart = at;
            at = nextLine(block, at);
            while (at < block.size() && isContinuation(lineAt(block, at))) {
                at = nextLine(block, at);
            }
            const std::string_view field = block.substr(fieldStart, at - fieldStart);
            const std::string_view name = headerName(lineAt(block, fieldStart));
            if (messageId != nullptr && name.size() == 10 && lowered(name) == "message-id") {
                const std::string value(field.substr(name.size() + 1));
                gchar* id = g_mime_utils_decode_message_id(value.c_str());
                *messageId = id != nullptr ? id : "";
                g_free(id);
            }
            if (name.empty() || field.find("=?") == std::string_view::npos) {
                continue;
            }
            appendConverted(block.substr(rawFrom, fieldStart - rawFrom), nullptr, m_enc, m_message);
            rawFrom = at;
            const std::string value(field.substr(name.size() + 1));
            gchar* unfolded = g_mime_utils_header_unfold(value.c_str());
            gchar* decoded = g_mime_utils_header_decode_text(m_options, unfolded);
            endLine(m_message.text);
            m_message.text.append(name);
            m_message.text.append(":");
            // GMime leaves 8-bit bytes outside the encoded words as they
            // are: whatever is not UTF-8 becomes U+FFFD.
            const std::string_view value8 = decoded != nullptr ? decoded : unfolded;
            if (convModule::isValidUtf8(value8)) {
                m_message.text.append(value8);
            } else {
                const convModule::ConvResult repaired = convModule::convToUTF8(value8, Encoding::UTF8);
                m_message.text.append(repaired.text);
                m_message.invalid += repaired.invalid;
            }
            m_message.text.push_back('\n');
            g_free(decoded);
            g_free(unfolded);
        }
        appendConverted(block.substr(rawFrom), nullptr, m_enc, m_message);
    }

    void walk(GMimeObject* object, int depth) {
        if (object == nullptr) {
            return;
        }
        if (isA(object, GMIME_TYPE_MESSAGE_PART)) {
            GMimeMessage* inner = g_mime_message_part_get_message(reinterpret_cast<GMimeMessagePart*>(object));
            if (inner == nullptr) {
                return;
            }
            gchar* headers = g_mime_object_get_headers(reinterpret_cast<GMimeObject*>(inner), nullptr);
            if (headers != nullptr) {
                endLine(m_message.text);
                appendHeaders(headers);
                g_free(headers);
            }
            walk(g_mime_message_get_mime_part(inner), depth + 1);
            return;
        }
        if (isA(object, GMIME_TYPE_MULTIPART)) {
            auto* multipart = reinterpret_cast<GMimeMultipart*>(object);
            const int count = g_mime_multipart_get_count(multipart);
            if (count == 0) {
                m_structureDamaged = true;
            }
            for (int i = 0; i < count; ++i) {
                walk(g_mime_multipart_get_part(multipart, i), depth + 1);
            }
            return;
        }
        if (!isA(object, GMIME_TYPE_PART) || !isTextPart(object)) {
            return;
        }
        GMimeDataWrapper* content = g_mime_part_get_content(reinterpret_cast<GMimePart*>(object));
        if (content == nullptr) {
            return;
        }
        const std::string raw = streamBytes(g_mime_data_wrapper_get_stream(content));
        bool clean = true;
        const std::string decoded = transferDecoded(raw, g_mime_data_wrapper_get_encoding(content), clean);
        const char* charset = g_mime_object_get_content_type_parameter(object, "charset");
        appendConverted(decoded, charset, m_enc, m_message);
        if (!clean) {
            appendConverted(raw, nullptr, m_enc, m_message);
            m_message.damaged = true;
        }
    }

    Encoding m_enc;
    MailMessage& m_message;
    GMimeParserOptions* m_options = nullptr;
    bool m_structureDamaged = false;
};

// The bytes of a source (or of a window of it) as one GMime stream, without a
// copy: the messages are read through substreams of it. A substream reads by
// seeking this stream, so each thread makes its own. GByteArray counts in 32
// bits, so bytes of 4 GB or more get no stream and each message is copied into
// one of its own.
class SourceStream {
public:
    explicit SourceStream(std::string_view bytes) : m_bytes(bytes) {
        if (bytes.empty() || bytes.size() >= 0xFFFFFFFFU) {
            return;
        }
        // GMime only reads the array; it never owns or frees our bytes.
        m_array = g_byte_array_new_take(reinterpret_cast<guint8*>(const_cast<char*>(bytes.data())), bytes.size());
        m_stream = g_mime_stream_mem_new_with_byte_array(m_array);
        g_mime_stream_mem_set_owner(reinterpret_cast<GMimeStreamMem*>(m_stream), FALSE);
    }
    ~SourceStream() {
        if (m_stream != nullptr) {
            g_object_unref(m_stream);
            g_byte_array_steal(m_array, nullptr); // the bytes stay the caller's
            g_byte_array_unref(m_array);
        }
    }
    SourceStream(const SourceStream&) = delete;
    SourceStream& operator=(const SourceStream&) = delete;

    std::string_view bytes() const { return m_bytes; }

    // A stream of the bytes from `start` to `end` (the caller unrefs it).
    GMimeStream* part(std::size_t start, std::size_t end) const {
        if (m_stream != nullptr) {
            return g_mime_stream_substream(m_stream, static_cast<gint64>(start), static_cast<gint64>(end));
        }
        return g_mime_stream_mem_new_with_buffer(m_bytes.data() + start, end - start);
    }

private:
    std::string_view m_bytes;
    GByteArray* m_array = nullptr;
    GMimeStream* m_stream = nullptr;
};

// Where the header block of a message ends: just past its blank line, or the
// end of the message when there is none.
std::size_t headerEnd(std::string_view message) {
    std::size_t at = 0;
    while (at < message.size()) {
        const std::string_view line = lineAt(message, at);
        at = nextLine(message, at);
        if (line.empty()) {
            return at;
        }
    }
    return message.size();
}

// Whether a header name is one of the Content-* fields, the only ones that
// bear on how a MIME entity is read.
bool isContentField(std::string_view name) {
    return name.size() > 8 && lowered(name.substr(0, 8)) == "content-";
}

// The header block of a message is `data` up to `headersLength`, its blank
// line included. Where the block is plain (every line a field "Name: value"
// or the continuation of one, no NUL and no CR but before a line end), moves
// its Content-* fields (or, when it has none, its first field), in their
// order, to just before the blank line, and returns where they start: a
// parser that reads from there finds the same structure, warnings and body,
// and makes no objects for the other fields (the address lists, the Received
// lines). Returns 0 and changes nothing otherwise.
std::size_t gatherStructureFields(char* data, std::size_t headersLength) {
    const std::string_view block(data, headersLength);
    struct Field {
        std::size_t start;
        std::size_t end;
        bool content;
    };
    std::vector<Field> fields;
    std::size_t at = 0;
    while (at < block.size()) {
        const std::size_t next = nextLine(block, at);
        const std::string_view raw = block.substr(at, next - at);
        const std::string_view line = lineAt(block, at);
        if (line.empty()) {
            std::string kept;
            for (const Field& f : fields) {
                if (f.content) {
                    kept.append(block.substr(f.start, f.end - f.start));
                }
            }
            if (kept.empty() && !fields.empty()) {
                kept.assign(block.substr(fields[0].start, fields[0].end - fields[0].start));
            }
            const std::size_t start = at - kept.size();
            if (start == 0) {
                return 0; // nothing to leave out
            }
            std::memcpy(data + start, kept.data(), kept.size());
            return start;
        }
        if (raw.back() != '\n' || raw.find('\0') != std::string_view::npos ||
            line.find('\r') != std::string_view::npos) {
            return 0;
        }
        if (isContinuation(line)) {
            if (at == 0) {
                return 0;
            }
        } else {
            const std::string_view name = headerName(line);
            if (name.empty()) {
                return 0;
            }
            fields.push_back({at, at, isContentField(name)});
        }
        fields.back().end = next;
        at = next;
    }
    return 0; // no blank line
}

// Where one message lies in the bytes that hold it: from its mbox "From "
// line (or its first header), through its header block, to its end.
struct Span {
    std::size_t start = 0;
    std::size_t body = 0; // past the mbox "From " line (start when there is none)
    std::size_t end = 0;
};

// Where the next "\nFrom " is at or after `from`, or npos. Lines of base64 are
// short, so a search line by line would call memchr every few dozen bytes:
// this looks at 32 (or 16) bytes a step for a line end before an "F".
#if defined(__x86_64__)
__attribute__((target("avx2"))) std::size_t findFromAvx2(std::string_view bytes, std::size_t from) {
    const char* data = bytes.data();
    const __m256i newline = _mm256_set1_epi8('\n');
    const __m256i letterF = _mm256_set1_epi8('F');
    while (from + 33 <= bytes.size()) {
        const __m256i here = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(data + from));
        const __m256i next = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(data + from + 1));
        auto mask = static_cast<unsigned>(
            _mm256_movemask_epi8(_mm256_and_si256(_mm256_cmpeq_epi8(here, newline), _mm256_cmpeq_epi8(next, letterF))));
        while (mask != 0) {
            const std::size_t at = from + static_cast<std::size_t>(__builtin_ctz(mask));
            if (bytes.substr(at, 6) == "\nFrom ") {
                return at;
            }
            mask &= mask - 1;
        }
        from += 32;
    }
    return from;
}

bool hasAvx2() {
    return utf8Check::avx2Available(); // asked once, and only when needed
}
#endif

std::size_t findFromAfterNewline(std::string_view bytes, std::size_t from) {
    constexpr std::string_view kNeedle = "\nFrom ";
#if defined(__x86_64__)
    if (hasAvx2()) {
        from = findFromAvx2(bytes, from);
        if (from < bytes.size() && bytes.substr(from, kNeedle.size()) == kNeedle) {
            return from;
        }
    }
#endif
#if defined(__SSE2__)
    const char* data = bytes.data();
    const __m128i newline = _mm_set1_epi8('\n');
    const __m128i letterF = _mm_set1_epi8('F');
    while (from + 17 <= bytes.size()) {
        const __m128i here = _mm_loadu_si128(reinterpret_cast<const __m128i*>(data + from));
        const __m128i next = _mm_loadu_si128(reinterpret_cast<const __m128i*>(data + from + 1));
        auto mask = static_cast<unsigned>(
            _mm_movemask_epi8(_mm_and_si128(_mm_cmpeq_epi8(here, newline), _mm_cmpeq_epi8(next, letterF))));
        while (mask != 0) {
            const std::size_t at = from + static_cast<std::size_t>(__builtin_ctz(mask));
            if (bytes.substr(at, kNeedle.size()) == kNeedle) {
                return at;
            }
            mask &= mask - 1;
        }
        from += 16;
    }
#endif
    return bytes.find(kNeedle, from);
}

// Where the message whose body starts at `body` ends: at the next "From " line
// (the line right after its own "From " line is never one), or npos when the
// bytes end first. With `atEnd` the bytes are the whole rest of the source and
// the message runs to their end; otherwise a candidate line cut by the end of
// the bytes is not judged: `resume` is set to where to look again once more
// bytes are there.
std::size_t messageEnd(std::string_view bytes, std::size_t body, bool atEnd, std::size_t& resume) {
    for (std::size_t nl = findFromAfterNewline(bytes, body); nl != std::string_view::npos;
         nl = findFromAfterNewline(bytes, nl + 1)) {
        if (!atEnd && std::memchr(bytes.data() + nl + 1, '\n', bytes.size() - nl - 1) == nullptr) {
            resume = nl;
            return std::string_view::npos;
        }
        if (isFromLine(lineAt(bytes, nl + 1))) {
            return nl + 1;
        }
    }
    if (atEnd) {
        return bytes.size();
    }
    // A "\nFrom " cut by the end of the bytes starts in their last 5.
    resume = std::max(body, bytes.size() > 5 ? bytes.size() - 5 : std::size_t{0});
    return std::string_view::npos;
}

// A single message, or the messages of an mbox, each running to the next
// "From " line. Never empty: an empty source is one empty message. The plain
// way, over the whole source at once.
std::vector<Span> splitMessages(std::string_view bytes, bool mbox) {
    std::vector<Span> spans;
    if (!mbox) {
        spans.push_back({0, 0, bytes.size()});
        return spans;
    }
    std::size_t start = 0;
    while (start < bytes.size() || spans.empty()) {
        Span span{start, nextLine(bytes, start), bytes.size()};
        for (std::size_t nl = bytes.find("\nFrom ", span.body); nl != std::string_view::npos;
             nl = bytes.find("\nFrom ", nl + 1)) {
            if (isFromLine(lineAt(bytes, nl + 1))) {
                span.end = nl + 1;
                break;
            }
        }
        spans.push_back(span);
        start = span.end;
    }
    return spans;
}

// What reading messages needs, one per thread: GMime objects are not shared.
class Parsing {
public:
    Parsing(Encoding enc, bool mbox) : m_enc(enc), m_mbox(mbox), m_parser(g_mime_parser_new()) {}

    // The message at `span` of `source`, whose bytes start at `offset` of the
    // file. With `writable` (the source's bytes, which the caller lets this
    // rearrange), the parser reads only the fields of the top header block
    // that bear on the message's structure.
    MailMessage read(const SourceStream& source, const Span& span, std::size_t number, std::uint64_t offset,
                     char* writable = nullptr) {
        const std::string_view bytes = source.bytes();
        const std::string_view message = bytes.substr(span.body, span.end - span.body);
        const std::size_t headersLength = headerEnd(message);
        MailMessage out;
        out.number = number;
        out.inMbox = m_mbox;
        out.end = static_cast<std::size_t>(offset + span.end);
        MessageReader reader(m_enc, out);
        reader.readHeaders(bytes.substr(span.start, span.body - span.start + headersLength));
        const std::size_t from = writable != nullptr ? gatherStructureFields(writable + span.body, headersLength) : 0;
        const Ref<GMimeStream> stream(source.part(span.body + from, span.end));
        reader.readBody(message, headersLength, m_parser.get(), stream.get());
        return out;
    }

private:
    Encoding m_enc;
    bool m_mbox;
    Ref<GMimeParser> m_parser;
};

// ---- Reading a source as it comes ------------------------------------------

// Bytes of the source, from `offset` on; several batches may share one.
struct Window {
    std::unique_ptr<char[]> data;
    std::size_t capacity = 0;
    std::size_t size = 0;
    std::uint64_t offset = 0;

    std::string_view view() const { return {data.get(), size}; }
};

// A few whole messages of a window, read on one thread.
struct Batch {
    std::shared_ptr<const Window> window;
    std::vector<Span> spans; // in the window
    std::size_t firstNumber = 1;
    std::vector<MailMessage> messages;
    bool claimed = false; // a thread reads it
    bool done = false;    // `messages` are there
};

// Reads the messages of one batch (on whichever thread claimed it).
void readBatch(Parsing& parsing, Batch& batch, const JobContext& ctx) {
    const SourceStream source(batch.window->view());
    // The window's bytes are this reader's own, and those of each message
    // are read by one thread only: they may be rearranged.
    char* writable = const_cast<char*>(batch.window->data.get());
    std::vector<MailMessage> messages;
    messages.reserve(batch.spans.size());
    for (std::size_t i = 0; i < batch.spans.size() && !ctx.stopRequested(); ++i) {
        messages.push_back(parsing.read(source, batch.spans[i], batch.firstNumber + i, batch.window->offset, writable));
    }
    batch.messages = std::move(messages);
}

// Messages are read in batches of at most this many.
constexpr std::size_t kChunk = 16;

// Reads a source as it comes: the calling thread reads windows of it and cuts
// them into whole messages, the batches of messages are read on a few threads
// of their own (or on the calling thread when there is too little for them),
// and each message is handed on in file order on the calling thread.
class StreamReader {
public:
    StreamReader(const ReadMore& more, Encoding enc, const std::function<void(MailMessage&&)>& onMessage,
                 const JobContext& ctx, const Reading& how)
        : m_more(more), m_enc(enc), m_onMessage(onMessage), m_ctx(ctx),
          m_windowSize(std::max<std::size_t>(how.window, 4096)),
          m_threads(how.threads != 0 ? how.threads : std::min(4U, std::thread::hardware_concurrency())),
          m_size(std::min<std::uint64_t>(how.size, std::numeric_limits<std::size_t>::max() / 2)) {}

    StreamReader(const StreamReader&) = delete;
    StreamReader& operator=(const StreamReader&) = delete;

    ~StreamReader() {
        {
            const std::lock_guard lock(m_mutex);
            m_quit = true;
        }
        m_changed.notify_all();
        for (std::thread& t : m_workers) {
            t.join();
        }
    }

    bool run(std::string_view head) {
        auto window = newWindow(std::max(m_windowSize, head.size()), 0);
        if (!head.empty()) { // an empty view may point nowhere
            std::memcpy(window->data.get(), head.data(), head.size());
        }
        window->size = head.size();
        fill(*window);
        m_mbox = isFromLine(lineAt(window->view(), 0));
        if (!m_mbox) {
            // One message: the whole source.
            if (!m_eof && m_size > window->capacity) {
                window = grown(std::move(window), static_cast<std::size_t>(m_size) + 1);
                fill(*window);
            }
            while (!m_eof) {
                window = grown(std::move(window), window->capacity * 2);
                fill(*window);
            }
            Batch batch;
            batch.spans.push_back({0, 0, window->size});
            batch.window = std::move(window);
            Parsing parsing(m_enc, m_mbox);
            readBatch(parsing, batch, m_ctx);
            return deliver(batch) && !m_ctx.stopRequested();
        }
        std::size_t start = 0;                              // the message being cut, in `window`
        std::size_t body = nextLine(window->view(), start); // its body
        std::size_t resume = body;                          // where to look for its end
        std::size_t number = 1;                             // its number
        while (true) {
            // Cut the window into whole messages.
            std::vector<Span> spans;
            const std::string_view bytes = window->view();
            while (true) {
                const std::size_t end = messageEnd(bytes, resume, m_eof, resume);
                if (end == std::string_view::npos) {
                    break;
                }
                spans.push_back({start, body, end});
                start = end;
                if (start >= bytes.size()) {
                    break;
                }
                body = nextLine(bytes, start);
                resume = body;
            }
            const bool last = m_eof && start >= bytes.size();
            if (!spans.empty()) {
                const std::size_t count = spans.size();
                std::shared_ptr<const Window> shared;
                std::unique_ptr<Window> rest;
                if (!last) {
                    // The message cut by the end of the window goes on in a
                    // window of its own.
                    rest = newWindow(std::max(m_windowSize, (bytes.size() - start) * 2), window->offset + start);
                    rest->size = bytes.size() - start;
                    std::memcpy(rest->data.get(), bytes.data() + start, rest->size);
                }
                shared = std::move(window);
                if (!queue(shared, std::move(spans), number, last)) {
                    return false;
                }
                number += count;
                if (last) {
                    break;
                }
                window = std::move(rest);
                body -= start;
                resume -= start;
                start = 0;
            } else if (window->size == window->capacity) {
                window = grown(std::move(window), window->capacity * 2); // a message longer than the window
            }
            if (m_ctx.stopRequested()) {
                return false;
            }
            fill(*window);
        }
        return finish();
    }

private:
    std::unique_ptr<Window> newWindow(std::size_t capacity, std::uint64_t offset) {
        auto window = std::make_unique<Window>();
        window->offset = offset;
        if (!m_spare.empty() && m_spare.back().capacity >= capacity) {
            window->data = std::move(m_spare.back().data);
            window->capacity = m_spare.back().capacity;
            m_spare.pop_back();
        } else {
            window->data = std::make_unique_for_overwrite<char[]>(capacity);
            window->capacity = capacity;
        }
        return window;
    }

    std::unique_ptr<Window> grown(std::unique_ptr<Window> window, std::size_t capacity) {
        auto bigger = newWindow(capacity, window->offset);
        std::memcpy(bigger->data.get(), window->data.get(), window->size);
        bigger->size = window->size;
        return bigger;
    }

    // Reads until the window is full or the source ends.
    void fill(Window& window) {
        while (!m_eof && window.size < window.capacity) {
            const std::size_t got = m_more(window.data.get() + window.size, window.capacity - window.size);
            if (got == 0) {
                m_eof = true;
            }
            window.size += got;
        }
    }

    // Adds the batches of a window's whole messages, handing on what is read
    // meanwhile. `last`: these are the source's last messages.
    bool queue(const std::shared_ptr<const Window>& window, std::vector<Span> spans, std::size_t number, bool last) {
        for (std::size_t from = 0; from < spans.size(); from += kChunk) {
            Batch batch;
            batch.window = window;
            batch.spans.assign(spans.begin() + static_cast<std::ptrdiff_t>(from),
                               spans.begin() + static_cast<std::ptrdiff_t>(std::min(spans.size(), from + kChunk)));
            batch.firstNumber = number + from;
            {
                const std::lock_guard lock(m_mutex);
                m_batches.push_back(std::move(batch));
            }
            if (!m_workers.empty()) {
                m_changed.notify_one();
            }
        }
        // Threads pay off once there is more than a little to read.
        if (m_workers.empty() && m_threads >= 2 && (!last || m_batches.size() >= 4)) {
            startWorkers();
        }
        // Hand on what is read, and wait while enough is waiting to be read.
        const std::size_t most = m_workers.empty() ? 0 : m_workers.size() * 3;
        while (true) {
            if (!handOnDone()) {
                return false;
            }
            if (m_batches.size() <= most) {
                return true;
            }
            if (!waitOrReadFront()) {
                return false;
            }
        }
    }

    bool finish() {
        while (!m_batches.empty()) {
            if (!waitOrReadFront() || !handOnDone()) {
                return false;
            }
        }
        return !m_ctx.stopRequested();
    }

    // Hands on the batches at the front that are read.
    bool handOnDone() {
        while (true) {
            Batch batch;
            {
                const std::lock_guard lock(m_mutex);
                if (m_failure) {
                    std::rethrow_exception(m_failure);
                }
                if (m_batches.empty() || !m_batches.front().done) {
                    return true;
                }
                batch = std::move(m_batches.front());
                m_batches.pop_front();
            }
            m_changed.notify_all();
            if (!deliver(batch)) {
                return false;
            }
            recycle(std::move(batch.window));
        }
    }

    // Waits for the front batch to be read, reading it here when no thread
    // has taken it. False when STOP came first.
    bool waitOrReadFront() {
        std::unique_lock lock(m_mutex);
        Batch& front = m_batches.front();
        if (!front.claimed) {
            front.claimed = true;
            lock.unlock();
            if (!m_parsing) {
                m_parsing.emplace(m_enc, m_mbox);
            }
            readBatch(*m_parsing, front, m_ctx);
            lock.lock();
            front.done = true;
            return !m_ctx.stopRequested();
        }
        // STOP is no signal of the condition: look at it now and then.
        while (!front.done && !m_failure && !m_ctx.stopRequested()) {
            m_changed.wait_for(lock, std::chrono::milliseconds(20));
        }
        if (m_failure) {
            std::rethrow_exception(m_failure);
        }
        return front.done;
    }

    bool deliver(Batch& batch) {
        if (batch.messages.size() < batch.spans.size()) {
            return false; // stopped
        }
        for (MailMessage& m : batch.messages) {
            if (m_ctx.stopRequested()) {
                return false;
            }
            m_onMessage(std::move(m));
            m_ctx.yieldNow();
        }
        return true;
    }

    // A window's bytes serve again once its last batch is handed on.
    void recycle(std::shared_ptr<const Window> window) {
        if (window.use_count() == 1 && m_spare.size() < 4) {
            auto& w = const_cast<Window&>(*window);
            m_spare.push_back({std::move(w.data), w.capacity, 0, 0});
        }
    }

    void startWorkers() {
        for (unsigned i = 0; i < m_threads; ++i) {
            try {
                m_workers.emplace_back([this] { work(); });
            } catch (const std::system_error&) {
                break; // fewer threads than hoped: the others (and this one) do it all
            }
        }
    }

    void work() {
        try {
            Parsing parsing(m_enc, m_mbox);
            while (true) {
                Batch* batch = nullptr;
                {
                    std::unique_lock lock(m_mutex);
                    m_changed.wait(lock, [&] {
                        if (m_quit) {
                            return true;
                        }
                        for (Batch& b : m_batches) {
                            if (!b.claimed) {
                                batch = &b;
                                return true;
                            }
                        }
                        return false;
                    });
                    if (m_quit) {
                        return;
                    }
                    batch->claimed = true;
                }
                readBatch(parsing, *batch, m_ctx);
                {
                    const std::lock_guard lock(m_mutex);
                    batch->done = true;
                }
                m_changed.notify_all();
            }
        } catch (...) {
            {
                const std::lock_guard lock(m_mutex);
                m_failure = std::current_exception();
                m_quit = true;
            }
            m_changed.notify_all();
        }
    }

    const ReadMore& m_more;
    Encoding m_enc;
    const std::function<void(MailMessage&&)>& m_onMessage;
    const JobContext& m_ctx;
    std::size_t m_windowSize;
    unsigned m_threads;
    std::uint64_t m_size;
    bool m_mbox = false;
    bool m_eof = false;
    std::vector<Window> m_spare;      // bytes to use again (this thread only)
    std::optional<Parsing> m_parsing; // this thread's, when it reads a batch itself

    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::deque<Batch> m_batches; // read or waiting, in file order
    bool m_quit = false;
    std::exception_ptr m_failure;
    std::vector<std::thread> m_workers; // last: joined before the rest goes
};

// The messages read one after the other on the calling thread.
bool readInOrder(std::string_view bytes, const std::vector<Span>& spans, bool mbox, Encoding enc,
                 const std::function<void(MailMessage&&)>& onMessage, const JobContext& ctx) {
    Parsing parsing(enc, mbox);
    const SourceStream source(bytes);
    for (std::size_t i = 0; i < spans.size(); ++i) {
        if (ctx.stopRequested()) {
            return false;
        }
        onMessage(parsing.read(source, spans[i], i + 1, 0));
        ctx.yieldNow();
    }
    return true;
}

} // namespace

bool parserAvailable() {
    return gmimeLoader::available();
}

std::string parserFailure() {
    return gmimeLoader::failure();
}

void pretendParserMissing(bool missing) {
    gmimeLoader::pretendMissing(missing);
}

bool looksLikeMail(std::string_view start) {
    start = start.substr(0, kLookSize);
    std::size_t at = 0;
    int needed = 2;
    if (isFromLine(lineAt(start, 0))) {
        at = nextLine(start, 0);
        needed = 1;
    }
    int known = 0;
    bool first = true;
    while (at < start.size()) {
        const std::size_t lineEnd = start.find('\n', at);
        if (lineEnd == std::string_view::npos) {
            break; // a line cut by the end of the sample proves nothing
        }
        const std::string_view line = lineAt(start, at);
        at = lineEnd + 1;
        if (line.empty()) {
            break;
        }
        if (isContinuation(line)) {
            if (first) {
                return false;
            }
            continue;
        }
        const std::string_view name = headerName(line);
        if (name.empty()) {
            return false;
        }
        first = false;
        if (isMailHeader(name)) {
            ++known;
        }
    }
    return known >= needed;
}

bool isMbox(std::string_view start) {
    return isFromLine(lineAt(start, 0));
}

std::string messageLabel(const MailMessage& message) {
    std::string label;
    if (message.inMbox) {
        label = "message " + std::to_string(message.number);
    }
    if (!message.messageId.empty()) {
        if (!label.empty()) {
            label.push_back(' ');
        }
        label += "<" + message.messageId + ">";
    }
    return label;
}

bool readMail(std::string_view bytes, Encoding enc, const std::function<void(MailMessage&&)>& onMessage,
              const JobContext& ctx) {
    initGMime();
    const bool mbox = isFromLine(lineAt(bytes, 0));
    return readInOrder(bytes, splitMessages(bytes, mbox), mbox, enc, onMessage, ctx);
}

bool readMail(std::string_view head, const ReadMore& more, Encoding enc,
              const std::function<void(MailMessage&&)>& onMessage, const JobContext& ctx, const Reading& how) {
    initGMime();
    StreamReader reader(more, enc, onMessage, ctx, how);
    return reader.run(head);
}

} // namespace quillon::mailSource
