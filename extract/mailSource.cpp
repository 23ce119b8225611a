#include "extract/mailSource.h"

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
#include <exception>
#include <memory>
#include <mutex>
#include <system_error>
#include <thread>
#include <vector>

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
    evidence.feed(bytes);
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

    // `stream` holds `bytes`, the message without its mbox "From " line;
    // `headerBlock` is its header block with that line.
    void read(std::string_view headerBlock, std::string_view bytes, std::size_t bodyStart, GMimeParser* parser,
              GMimeStream* stream) {
        appendHeaders(headerBlock, &m_message.messageId);
        // The top entity is read as a MIME part, not a message: its headers
        // are taken from the raw block above, and GMime need not parse the
        // address lists and the date of every message.
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

// The whole source as one GMime stream, without a copy: the messages are
// read through substreams of it. GByteArray counts in 32 bits, so a source of
// 4 GB or more gets no stream and each message is copied into one of its own.
class SourceStream {
public:
    explicit SourceStream(std::string_view bytes) {
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

    // A stream of the bytes from `start` to `end` (the caller unrefs it).
    GMimeStream* part(std::string_view bytes, std::size_t start, std::size_t end) const {
        if (m_stream != nullptr) {
            return g_mime_stream_substream(m_stream, static_cast<gint64>(start), static_cast<gint64>(end));
        }
        return g_mime_stream_mem_new_with_buffer(bytes.data() + start, end - start);
    }

private:
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

// Where one message lies in the source: from its mbox "From " line (or its
// first header), through its header block, to its end.
struct Span {
    std::size_t start = 0;
    std::size_t body = 0; // past the mbox "From " line (start when there is none)
    std::size_t end = 0;
};

// A single message, or the messages of an mbox, each running to the next
// "From " line. Never empty: an empty source is one empty message.
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
    Parsing(std::string_view bytes, Encoding enc, bool mbox)
        : m_bytes(bytes), m_enc(enc), m_mbox(mbox), m_source(bytes), m_parser(g_mime_parser_new()) {}

    MailMessage read(const Span& span, std::size_t number) {
        const std::string_view message = m_bytes.substr(span.body, span.end - span.body);
        const std::size_t headersLength = headerEnd(message);
        MailMessage out;
        out.number = number;
        out.inMbox = m_mbox;
        out.end = span.end;
        const Ref<GMimeStream> stream(m_source.part(m_bytes, span.body, span.end));
        MessageReader reader(m_enc, out);
        reader.read(m_bytes.substr(span.start, span.body - span.start + headersLength), message, headersLength,
                    m_parser.get(), stream.get());
        return out;
    }

private:
    std::string_view m_bytes;
    Encoding m_enc;
    bool m_mbox;
    SourceStream m_source;
    Ref<GMimeParser> m_parser;
};

// Messages are read in chunks of this many; at most a few chunks per thread
// wait to be handed on.
constexpr std::size_t kChunk = 16;

// The messages read one after the other on the calling thread.
bool readInOrder(std::string_view bytes, const std::vector<Span>& spans, bool mbox, Encoding enc,
                 const std::function<void(MailMessage&&)>& onMessage, const JobContext& ctx) {
    Parsing parsing(bytes, enc, mbox);
    for (std::size_t i = 0; i < spans.size(); ++i) {
        if (ctx.stopRequested()) {
            return false;
        }
        onMessage(parsing.read(spans[i], i + 1));
        ctx.yieldNow();
    }
    return true;
}

// The messages of a large mbox read on several threads, handed on in file
// order on the calling thread.
bool readInParallel(std::string_view bytes, const std::vector<Span>& spans, bool mbox, Encoding enc, unsigned threads,
                    const std::function<void(MailMessage&&)>& onMessage, const JobContext& ctx) {
    const std::size_t chunks = (spans.size() + kChunk - 1) / kChunk;
    const std::size_t window = std::size_t{threads} * 3;
    std::mutex mutex;
    std::condition_variable changed;
    std::vector<std::vector<MailMessage>> ready(chunks);
    std::vector<char> done(chunks, 0);
    std::size_t next = 0;      // the next chunk to claim
    std::size_t delivered = 0; // chunks handed on
    bool quit = false;
    std::exception_ptr failure;

    const auto work = [&] {
        try {
            Parsing parsing(bytes, enc, mbox);
            while (true) {
                std::size_t chunk = 0;
                {
                    std::unique_lock lock(mutex);
                    changed.wait(lock, [&] { return quit || next >= chunks || next < delivered + window; });
                    if (quit || next >= chunks) {
                        return;
                    }
                    chunk = next++;
                }
                std::vector<MailMessage> messages;
                const std::size_t last = std::min(spans.size(), (chunk + 1) * kChunk);
                for (std::size_t i = chunk * kChunk; i < last && !ctx.stopRequested(); ++i) {
                    messages.push_back(parsing.read(spans[i], i + 1));
                }
                {
                    const std::lock_guard lock(mutex);
                    ready[chunk] = std::move(messages);
                    done[chunk] = 1;
                }
                changed.notify_all();
            }
        } catch (...) {
            {
                const std::lock_guard lock(mutex);
                failure = std::current_exception();
                quit = true;
            }
            changed.notify_all();
        }
    };
    std::vector<std::thread> workers;
    // The workers are told to end and joined however this thread leaves.
    struct Joiner {
        std::vector<std::thread>& workers;
        std::mutex& mutex;
        std::condition_variable& changed;
        bool& quit;
        ~Joiner() {
            {
                const std::lock_guard lock(mutex);
                quit = true;
            }
            changed.notify_all();
            for (std::thread& t : workers) {
                t.join();
            }
        }
    } joiner{workers, mutex, changed, quit};
    for (unsigned i = 0; i < threads; ++i) {
        try {
            workers.emplace_back(work);
        } catch (const std::system_error&) {
            break; // fewer threads than hoped: the others do it all
        }
    }
    if (workers.empty()) {
        // No thread to be had: read them all here.
        return readInOrder(bytes, spans, mbox, enc, onMessage, ctx);
    }

    for (std::size_t chunk = 0; chunk < chunks; ++chunk) {
        std::vector<MailMessage> messages;
        {
            std::unique_lock lock(mutex);
            // STOP is no signal of the condition: look at it now and then.
            while (!done[chunk] && !failure && !ctx.stopRequested()) {
                changed.wait_for(lock, std::chrono::milliseconds(20));
            }
            if (failure) {
                std::rethrow_exception(failure);
            }
            if (!done[chunk]) {
                return false; // stopped
            }
            messages = std::move(ready[chunk]);
            delivered = chunk + 1;
        }
        changed.notify_all();
        for (MailMessage& m : messages) {
            if (ctx.stopRequested()) {
                return false;
            }
            onMessage(std::move(m));
            ctx.yieldNow();
        }
    }
    return !ctx.stopRequested();
}

} // namespace

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
    const std::vector<Span> spans = splitMessages(bytes, mbox);
    const unsigned threads = std::min(4U, std::thread::hardware_concurrency());
    if (threads >= 2 && spans.size() >= 4 * kChunk) {
        return readInParallel(bytes, spans, mbox, enc, threads, onMessage, ctx);
    }
    return readInOrder(bytes, spans, mbox, enc, onMessage, ctx);
}

} // namespace quillon::mailSource
