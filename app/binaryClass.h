#pragma once

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string>

namespace quillon {

class FileOps;

// A big-endian binary stream on one file of the preferences folder. Every read
// past the end of the file gives 0, false or an empty text, and a long text
// whose length field is larger than what is left of the file (or than
// kMaxLongText) is damage and reads as empty, so a damaged file can never make
// it allocate more than the file holds.
//
// Only a regular file is read, and it is opened without blocking: a FIFO or a
// device at the file's place is refused. Writes are collected in memory and
// stored by binaryClose in one step: the new bytes, then whatever the old file
// held beyond them, go to a new file that replaces the old one once it is on
// disk, so a failed or interrupted save leaves the old file whole and a reader
// never sees half of a save.
//
// Short strings are one length byte and Shift_JIS text (converted as CP932);
// long texts are a 32-bit byte count and UTF-8 text.
class binaryClass {
public:
    // The longest long text stored or read (64 MiB).
    static constexpr std::uint32_t kMaxLongText = std::uint32_t{64} << 20;

    binaryClass() = default;
    ~binaryClass();
    binaryClass(const binaryClass&) = delete;
    binaryClass& operator=(const binaryClass&) = delete;

    // Opens `name` in `folder` for reading and writing at its first byte and
    // returns true when it existed; otherwise creates it empty (and the folder
    // when needed), keeps it open and returns false. When it can be neither
    // opened nor created, returns false with no stream open: see isOpen().
    bool openPrefFile(const std::filesystem::path& folder, const std::string& name);
    bool isOpen() const { return m_file != nullptr; }
    // The reason the last open or write failed, empty when none did.
    const std::string& error() const { return m_error; }
    // The errno of that failure, 0 when none did (or it had none).
    int errorNumber() const { return m_errno; }
    // Stores what was written since the open, then closes the file.
    void binaryClose();
    // The file operations of the store (tests inject faults); nullptr is POSIX.
    void setFileOps(FileOps* ops) { m_ops = ops; }

    void wShort(std::int32_t value);
    void wLong(std::int32_t value);
    void wBool(bool value);
    // UTF-8 text written as a short string in Shift_JIS (cut at 255 bytes).
    void writeString(const std::string& text);
    // UTF-8 text written as a long and its bytes unchanged; a text longer than
    // kMaxLongText fails the save.
    void writeBinaryData(const std::string& text);

    std::int32_t rShort();
    std::int32_t rLong();
    bool rBool();
    std::string readString();
    std::string readBinaryData();
    bool isEOF();

    // True when every write since the open reached the file (after
    // binaryClose: when the save is on disk).
    bool writesOk() const { return m_writeOk; }

private:
    bool readExact(unsigned char* out, std::size_t count);
    void writeBytes(const void* data, std::size_t count);
    void store();

    std::FILE* m_file = nullptr;
    std::filesystem::path m_path;
    std::string m_written; // the bytes written since the open, from the first byte
    bool m_dirty = false;
    FileOps* m_ops = nullptr;
    bool m_writeOk = true;
    std::string m_error;
    int m_errno = 0;
};

} // namespace quillon
