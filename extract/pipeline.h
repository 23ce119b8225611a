#pragma once

#include "app/jobContext.h"
#include "app/settings.h"
#include "extract/searchRun.h"

#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace quillon::pipeline {

// ---- Walking folders ------------------------------------------------------

// Walks a folder recursively in a stable order (names sorted), calling
// `onFile` for every regular file. Hidden entries (names starting with ".")
// are skipped, links are followed but every folder is walked once only (so a
// link back to a parent ends), and entries that are neither regular files nor
// folders are skipped. Folders that cannot be listed are passed to `onError`.
// Stops early when ctx.stop is set.
void walkFolder(const std::filesystem::path& folder, const std::function<void(const std::filesystem::path&)>& onFile,
                const std::function<void(const std::filesystem::path&, const std::string&)>& onError,
                const JobContext& ctx = {});

// walkFolder without a path object per entry: the same files and failing
// folders in the same order, with the same paths and texts, each folder read
// with readdir into one buffer of names and sorted there. `onFile` gets the
// path of a regular file (valid during the call); `onError` a folder that
// could not be listed and why.
void listFolder(const std::string& folder, const std::function<void(std::string_view path)>& onFile,
                const std::function<void(std::string_view folder, const std::string& why)>& onError,
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
    Encoding used = Encoding::None;   // the encoding converted from (the guess for None)
    std::size_t invalid = 0;          // invalid sequences replaced by U+FFFD
    bool finished = true;             // false when ctx.stop ended it
    encodingVerdict::Verdict verdict; // what the whole text tells about its encoding
    bool fits() const { return verdict.fits(used); }
};

// convModule::convToUTF8 followed by extractAddresses: the same addresses in
// the same order, the same counts. The bytes go the road of runSearch, as a
// text source read in pieces.
SourceScan extractFromBytes(std::string_view bytes, Encoding enc, std::string_view sample, const AddressFn& onAddress,
                            const JobContext& ctx = {});

} // namespace quillon::pipeline
