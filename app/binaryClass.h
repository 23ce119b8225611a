#pragma once

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string>

namespace quillon {

// A big-endian binary stream on one file of the preferences folder. Every read
// past the end of the file gives 0, false or an empty text, and a length field
// larger than what is left of the file reads only what is there, so a damaged
// file can never make it allocate more than the file holds.
//
// Short strings are one length byte and Shift_JIS text (converted as CP932);
// long texts are a 32-bit byte count and UTF-8 text.
class binaryClass {
public:
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
    void binaryClose();

    void wShort(std::int32_t value);
    void wLong(std::int32_t value);
    void wBool(bool value);
    // UTF-8 text written as a short string in Shift_JIS (cut at 255 bytes).
    void writeString(const std::string& text);
    // UTF-8 text written as a long and its bytes unchanged.
    void writeBinaryData(const std::string& text);

    std::int32_t rShort();
    std::int32_t rLong();
    bool rBool();
    std::string readString();
    std::string readBinaryData();
    bool isEOF();

    // True when every write since the open reached the file.
    bool writesOk() const { return m_writeOk; }

private:
    bool readExact(unsigned char* out, std::size_t count);
    void writeBytes(const void* data, std::size_t count);

    std::FILE* m_file = nullptr;
    bool m_writeOk = true;
    std::string m_error;
    int m_errno = 0;
};

} // namespace quillon
