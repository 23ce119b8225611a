#pragma once

#include "app/jobContext.h"
#include "app/settings.h"
#include "list/addressRow.h"

#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace quillon::pipeline {

// The status texts of an extraction, in the order a full run shows them.
inline constexpr const char* kStatusSearching = "検索中...";
inline constexpr const char* kStatusDeleting = "重複アドレスを削除しています...";
inline constexpr const char* kStatusSorting = "並べ替えています。しばらくお待ちください...";
inline constexpr const char* kStatusFiltering = "フィルター項目を検索しています";
inline constexpr const char* kStatusDone = "検索完了";
inline constexpr const char* kStatusStopped = "処理は中止されました";

// ---- Reading sources -------------------------------------------------------

enum class ReadError { None, NotFound, NotRegular, NoPermission, TooLarge, Io, Stopped };

struct FileRead {
    ReadError error = ReadError::None;
    std::string detail; // the system's words for an I/O error, when there is one
    std::string bytes;
    bool ok() const { return error == ReadError::None; }
};

// Reads a regular file whole as raw bytes. Anything else (a folder, a FIFO, a
// device, a socket) is refused instead of blocking. Sees ctx.stop between
// chunks (ReadError::Stopped). A file too large for memory is refused with
// ReadError::TooLarge.
FileRead readWholeFile(const std::filesystem::path& path, const JobContext& ctx = {});

// A regular file's bytes, mapped into memory read-only instead of copied
// (small files, and files that cannot be mapped such as those of some special
// file systems, are read into memory instead). Another program that shortens the file while
// it is mapped makes reading the lost pages raise SIGBUS: a caller that maps
// files handles that signal.
class MappedFile {
public:
    MappedFile() = default;
    ~MappedFile();
    MappedFile(MappedFile&& other) noexcept;
    MappedFile& operator=(MappedFile&& other) noexcept;
    MappedFile(const MappedFile&) = delete;
    MappedFile& operator=(const MappedFile&) = delete;

    ReadError error = ReadError::None;
    std::string detail; // the system's words for an I/O error, when there is one
    bool ok() const { return error == ReadError::None; }
    std::string_view bytes() const { return m_map != nullptr ? std::string_view(m_map, m_size) : m_read; }

private:
    friend MappedFile mapWholeFile(const std::filesystem::path& path);
    char* m_map = nullptr;
    std::size_t m_size = 0;
    std::string m_read;
};

// Maps a regular file whole; anything else is refused like readWholeFile does.
MappedFile mapWholeFile(const std::filesystem::path& path);

// Walks a folder recursively in a stable order (names sorted), calling
// `onFile` for every regular file. Hidden entries (names starting with ".")
// are skipped, links are followed but every folder is walked once only (so a
// link back to a parent ends), and entries that are neither regular files nor
// folders are skipped. Folders that cannot be listed are passed to `onError`.
// Stops early when ctx.stop is set.
void walkFolder(const std::filesystem::path& folder, const std::function<void(const std::filesystem::path&)>& onFile,
                const std::function<void(const std::filesystem::path&, const std::string&)>& onError,
                const JobContext& ctx = {});

// ---- Scanning ---------------------------------------------------------------

// What a scan reports for each address found: the address and the byte offset
// just past it.
using AddressFn = std::function<void(std::string_view address)>;

// Decodes the numeric character references of a UTF-8 text, then scans it for
// addresses, calling `onAddress` for each in order. ctx.progress receives the
// scanner's progress (maximum and value already divided by its divisor, so
// both stay below 50,000); ctx.stop ends the decode or the scan at its next
// check. Returns false when it was stopped.
bool extractAddresses(std::string text, const AddressFn& onAddress, const JobContext& ctx = {});

// What extractFromBytes reports besides the addresses.
struct SourceScan {
    Encoding used = Encoding::None; // the encoding converted from (the guess for None)
    std::size_t invalid = 0;        // invalid sequences replaced by U+FFFD
    bool finished = true;           // false when ctx.stop ended it
};

// From which size, and in pieces of about which size, extractFromBytes
// converts a Shift_JIS, EUC-JP or ISO-2022-JP source on a second thread while
// it scans the pieces already converted (4 MB and 2 MB). Tests make them small
// so that short texts take that road too.
struct PieceSizes {
    std::size_t from = std::size_t{4} << 20;
    std::size_t piece = std::size_t{2} << 20;
};
void setPieceSizes(PieceSizes sizes);

// convModule::convToUTF8 followed by extractAddresses: the same addresses in
// the same order, the same counts. It copies the bytes only where a step
// changes them: valid UTF-8 (checked on two threads when large) without a
// "&" is scanned where it lies.
SourceScan extractFromBytes(std::string_view bytes, Encoding enc, std::string_view sample, const AddressFn& onAddress,
                            const JobContext& ctx = {});

// ---- Post-processing --------------------------------------------------------

// One whole step of the post-processing of the list after a scan. The window
// runs them one by one (between two steps the list is in a consistent state);
// the command-line tool runs them all with postProcess.
enum class PostStepKind { DeleteDuplicates, Sort, CheckSuspicious, FilterAddresses };

struct PostStep {
    PostStepKind kind;
    bool stoppable;     // STOP can end it (the window's `stop` flag is false meanwhile)
    const char* status; // status text shown as it starts, or nullptr
};

// The steps after a scan for these settings: duplicate removal when isDelet is
// on and the user did not stop the scan, sorting by domain when isSort is on,
// the suspicious-address check when isHighLight is on, and the filter when the
// filter text is not empty.
std::vector<PostStep> postSteps(const Settings& s, bool userStopped);

// Runs one step over the rows. For duplicate removal, ctx.stop ends it early
// and ctx.progress gets its progress; the result is true when it was stopped.
bool runPostStep(PostStepKind kind, std::vector<AddressRow>& rows, const Settings& s,
                 const std::vector<std::string>& correctAdd, const JobContext& ctx = {});

// All steps in order.
void postProcess(std::vector<AddressRow>& rows, const Settings& s, bool userStopped,
                 const std::vector<std::string>& correctAdd, const JobContext& ctx = {});

} // namespace quillon::pipeline
