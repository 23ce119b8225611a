#pragma once

#include "app/jobContext.h"
#include "app/settings.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

namespace quillon::mailSource {

// How many bytes of a source's start looksLikeMail needs to decide.
inline constexpr std::size_t kLookSize = 4096;

// Whether a source is a saved mail (a single message as an .eml or Maildir
// file keeps it, or an mbox of many), judged by its first bytes: an mbox
// "From " line, or a block of header lines ("Name: value", with folded
// continuation lines) that names at least two of the usual mail headers and
// holds nothing that is not a header line before its blank line. Ordinary
// text is not taken for mail.
bool looksLikeMail(std::string_view start);

// Whether a mail source is an mbox: it starts with a "From " line.
bool isMbox(std::string_view start);

// Whether the mail parser (GMime, loaded at the first call) can be used. A
// source that looks like mail is read as plain text when it cannot, so its
// header lines and plain bodies are still searched.
bool parserAvailable();

// Why the mail parser could not be loaded: the loader's words, or empty when
// it loaded or was never needed.
std::string parserFailure();

// For tests: parserAvailable() answers false until called again with false.
void pretendParserMissing(bool missing);

// One message of a mail source, ready to be scanned.
struct MailMessage {
    std::size_t number = 1; // 1-based position in the file
    bool inMbox = false;    // the file is an mbox, which may hold many messages
    std::string messageId;  // the Message-ID without its angle brackets, or empty
    std::size_t end = 0;    // byte offset in the file just past the message
    // UTF-8: the header block as it is written (encoded words decoded), then
    // every text part after its transfer encoding is undone and its charset
    // converted, each on lines of its own. Where the message is damaged, the
    // raw text of what could not be read is added as well.
    std::string text;
    std::size_t invalid = 0; // byte sequences invalid in their charset, replaced by U+FFFD
    bool damaged = false;    // raw text was added because something could not be read
    // The first part that names no charset and is not ASCII (such parts are
    // read in the caller's encoding, or with None in the one their bytes
    // seem to be in): the encoding its bytes seem to be in, and the one it
    // was read in. None when there is no such part.
    Encoding unnamedLikely = Encoding::None;
    Encoding unnamedUsed = Encoding::None;
};

// The words naming a message in a row's source: "message 3 <id@host>" for an
// mbox, "<id@host>" for a single message, empty when a single message has no
// Message-ID.
std::string messageLabel(const MailMessage& message);

// Reads a mail source and calls `onMessage` once per message, in file order,
// on the calling thread. A part (or a header block) that declares no charset
// is converted from `enc` (with None, from the encoding guessed from that
// part's own bytes). Attachments that are not text are skipped. ctx.stop is
// seen between messages; returns false when it ended the reading. This reads
// the messages one after the other, with one parser.
bool readMail(std::string_view bytes, Encoding enc, const std::function<void(MailMessage&&)>& onMessage,
              const JobContext& ctx = {});

// Gives the next bytes of a source: at most `size` of them into `buffer`; how
// many, 0 at its end (or where it could not be read further).
using ReadMore = std::function<std::size_t(char* buffer, std::size_t size)>;

// How a source is read as it comes.
struct Reading {
    std::size_t window = std::size_t{256} << 10; // bytes read at a time (a longer message gets more)
    unsigned threads = 0;   // threads of its own that read messages (0: one a core, at most 4; below 2: none)
    std::uint64_t size = 0; // the source's size when known: a single message is then read into one buffer
};

// The same as the above for a source read as it comes: `head`, then what
// `more` gives. The source is never held whole (except a single message):
// the calling thread reads it window by window and cuts it into messages,
// which a few threads of their own read while it reads on. Every message,
// its number, end and text are as the above gives them.
bool readMail(std::string_view head, const ReadMore& more, Encoding enc,
              const std::function<void(MailMessage&&)>& onMessage, const JobContext& ctx = {}, const Reading& how = {});

} // namespace quillon::mailSource
