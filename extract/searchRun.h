#pragma once

#include "app/settings.h"
#include "extract/encodingVerdict.h"

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace quillon::pipeline {

// Why a source could not be read (whole).
enum class ReadError {
    None,
    NotFound,     // no such file or folder
    NotRegular,   // a device, a socket, or a FIFO found in a folder
    NoPermission, // the system refused to open it
    TooLarge,     // more than memory holds (a line that never ends)
    Io,           // a read failed: `detail` holds the system's words
    Shortened,    // the file became shorter while it was read
    NotListed,    // a folder that could not be listed: `detail` says why
    Stopped,      // STOP came first
};

// Where text comes from. A path names a file or a folder (walked, every file
// in it a source of its own); a FIFO named by path can be read as a
// stream, like standard input. A text is bytes in memory (the clipboard, as
// UTF-8), read like a file.
struct Source {
    enum class Kind { Path, StandardInput, Text };
    Kind kind = Kind::Path;
    std::string path;       // Path: as given
    int fd = 0;             // StandardInput: the descriptor, read to its end and left open
    std::string_view text;  // Text: the bytes, kept alive by the caller for the whole run
    std::string name;       // StandardInput and Text: the name shown for it
    bool forceUtf8 = false; // read as UTF-8 whatever the run's encoding (the clipboard)
    // Read with this encoding whatever the run's (a file read again in the
    // encoding its verdict named); None: the run's.
    Encoding encoding = Encoding::None;

    static Source file(std::string path);
    static Source standardInput(int fd, std::string name = "(standard input)");
    static Source utf8Text(std::string_view text, std::string name);
};

// What became of one source (one file of a folder, standard input, a text).
// Sinks get it once the source has been scanned or has failed.
struct SourceReport {
    std::size_t index = 0;          // which source of the run, from 0 in the order read
    std::string path;               // the file's path (as given or as the walk found it), or the source's name
    std::uint64_t bytes = 0;        // raw bytes read
    Encoding used = Encoding::None; // the encoding converted from (the guess for None)
    // What the whole text tells about its encoding: whether it fits `used`,
    // and which encoding it seems to be in when it does not.
    encodingVerdict::Verdict verdict;
    std::size_t invalid = 0;   // invalid sequences replaced by U+FFFD
    std::size_t addresses = 0; // addresses handed to the sink
    std::string sample;        // the guess sample (the first 2,048 raw bytes); see SearchOptions::samples
    ReadError error = ReadError::None;
    int systemError = 0;  // the errno behind `error`, when there is one
    std::string detail;   // the system's words for it
    bool finished = true; // false when STOP ended the source early

    bool ok() const { return error == ReadError::None; }
    // Whether the bytes read fit the encoding they were read with.
    bool fits() const { return used == Encoding::None || verdict.fits(used); }
};

// What a whole run did.
struct SearchReport {
    std::size_t sources = 0;   // sources listed (files of folders counted one by one)
    std::size_t read = 0;      // sources read to their end
    std::size_t failed = 0;    // sources (and folders) that could not be read
    std::size_t invalid = 0;   // invalid sequences replaced, over all sources
    std::size_t addresses = 0; // addresses found, over all sources
    bool stopped = false;      // STOP ended the run
    // Why mail could not be parsed (the mail library could not be loaded),
    // so that what looked like mail was read as plain text; else empty.
    std::string mailParserFailure;
};

// Receives what a run finds, all on the thread that called runSearch, in
// order: for every source sourceStarted, its addresses, then sourceFinished;
// at the end searchFinished.
class SearchSink {
public:
    virtual ~SearchSink() = default;
    // `total` counts every source of the run, known once the folders are
    // listed. `path` lives until the source's sourceFinished returns.
    virtual void sourceStarted(std::size_t index, std::size_t total, const std::string& path);
    // A part of the current source begins: a message of an mbox, named by
    // `label` ("message 3 <id@host>"). The addresses that follow, up to the
    // next part or the end of the source, were found in it.
    virtual void partStarted(std::size_t source, const std::string& label);
    // One address, in the order found; `source` is the index of its source.
    // The view lives until the call returns.
    virtual void addressFound(std::string_view address, std::size_t source) = 0;
    // Progress through the current source: maximum and value below 50,000
    // (the maximum 0 when its size is not known in advance), and the raw
    // bytes of it read so far.
    virtual void progress(std::int64_t maximum, std::int64_t value, std::uint64_t bytes);
    virtual void sourceFinished(const SourceReport& report);
    virtual void searchFinished(const SearchReport& report);
};

struct SearchOptions {
    // None: guessed for each source from its whole text. The source is read
    // as UTF-8 while its bytes are ASCII (which reads the same in every
    // encoding); at its first piece that is not valid UTF-8 or holds an
    // escape byte the reader reads on, a copy of the text from there held in
    // memory (at most 64 MB), until the verdict is settled,
    // and reads the rest in the encoding it names. Japanese text settles
    // within its first few kilobytes; text that never settles is guessed
    // from what the look-ahead saw.
    Encoding encoding = Encoding::ShiftJIS;
    const std::atomic<bool>* stop = nullptr;
    std::size_t pieceSize = std::size_t{256} << 10; // bytes read at a time
    std::size_t piecesAhead = 4;                    // pieces read and converted ahead of the scan
    // A regular file of at least this many bytes read as UTF-8 (or guessed)
    // is read by both threads at once: it is cut into parts at line ends,
    // and each thread checks and scans the next part not yet taken; the
    // addresses are held until every part is scanned, then handed on in
    // order. A part that is not plain valid UTF-8 (or, guessed, that holds an
    // escape or shift byte) sends the whole file the ordinary way.
    std::uint64_t splitAt = std::uint64_t{8} << 20;
    // The files of folders are opened and read many at a time, in one call
    // to the system, where it allows (io_uring); otherwise one by one. A
    // folder of many files is read by two threads, each taking every other
    // batch.
    bool batchedReads = true;
    // A FIFO named by a path is read as a stream (the command line, where a
    // shell's <(command) gives one); otherwise it is refused like a device,
    // as it is always inside a folder.
    bool readNamedPipes = false;
    // Whether SourceReport::sample is filled in (the window shows the last
    // source's); a sink that never looks at it spares a copy per file.
    bool samples = true;
};

// The one road from sources to addresses, for the window and the
// command-line tool alike. Lists the sources (walking folders in a stable
// order), then reads each in pieces on a second thread (and the batches of
// a large folder also on a third), a few pieces ahead, converts them to
// UTF-8, and on this thread decodes the numeric character references and
// scans them in the order listed, handing every address to `sink`.
//
// A piece ends after a line end, which no address and no reference spans; a
// line longer than a piece is cut after a control byte or a space, which no
// address, reference or multibyte character holds either. So the addresses,
// the order and the counts are those of the whole text read at once, while
// memory holds only a few pieces.
SearchReport runSearch(const std::vector<Source>& sources, const SearchOptions& options, SearchSink& sink);

} // namespace quillon::pipeline
