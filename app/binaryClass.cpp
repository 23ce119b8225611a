#include "app/binaryClass.h"

#include "app/textCodec.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <system_error>

namespace quillon {

namespace {

std::string describe(const std::string& what, const std::filesystem::path& path, int err) {
    return what + " " + path.string() + ": " + std::strerror(err);
}

} // namespace

binaryClass::~binaryClass() {
    binaryClose();
}

bool binaryClass::openPrefFile(const std::filesystem::path& folder, const std::string& name) {
    binaryClose();
    m_error.clear();
    m_errno = 0;
    m_writeOk = true;

    std::error_code ec;
    std::filesystem::create_directories(folder, ec);
    if (ec) {
        m_error = "cannot create the folder " + folder.string() + ": " + ec.message();
        m_errno = ec.value();
        return false;
    }
    const std::filesystem::path path = folder / name;
    const bool existed = std::filesystem::exists(path, ec);
    if (existed) {
        m_file = std::fopen(path.c_str(), "r+b");
        if (m_file == nullptr && (errno == EACCES || errno == EROFS || errno == EPERM)) {
            // A file we may only read still gives the settings; the next
            // write reports the failure.
            m_errno = errno;
            m_error = describe("cannot write", path, m_errno);
            m_file = std::fopen(path.c_str(), "rb");
        }
        if (m_file == nullptr) {
            m_errno = errno;
            m_error = describe("cannot open", path, m_errno);
            return false;
        }
        return true;
    }
    m_file = std::fopen(path.c_str(), "w+b");
    if (m_file == nullptr) {
        m_errno = errno;
        m_error = describe("cannot create", path, m_errno);
    }
    return false;
}

void binaryClass::binaryClose() {
    if (m_file == nullptr) {
        return;
    }
    if (std::fclose(m_file) != 0 && m_writeOk) {
        m_writeOk = false;
        m_errno = errno;
        m_error = std::string("cannot finish writing: ") + std::strerror(m_errno);
    }
    m_file = nullptr;
}

void binaryClass::writeBytes(const void* data, std::size_t count) {
    if (m_file == nullptr) {
        if (m_writeOk) {
            m_writeOk = false;
            if (m_error.empty()) {
                m_error = "no file is open";
            }
        }
        return;
    }
    if (count != 0 && std::fwrite(data, 1, count, m_file) != count && m_writeOk) {
        m_writeOk = false;
        // A file opened for reading only already says why it cannot be written.
        if (m_error.empty()) {
            m_errno = errno;
            m_error = std::string("cannot write: ") + std::strerror(m_errno);
        }
    }
}

bool binaryClass::readExact(unsigned char* out, std::size_t count) {
    if (m_file == nullptr) {
        return false;
    }
    return std::fread(out, 1, count, m_file) == count;
}

void binaryClass::wShort(std::int32_t value) {
    const auto v = static_cast<std::uint32_t>(value);
    const unsigned char b[2] = {static_cast<unsigned char>(v >> 8), static_cast<unsigned char>(v)};
    writeBytes(b, sizeof b);
}

void binaryClass::wLong(std::int32_t value) {
    const auto v = static_cast<std::uint32_t>(value);
    const unsigned char b[4] = {static_cast<unsigned char>(v >> 24), static_cast<unsigned char>(v >> 16),
                                static_cast<unsigned char>(v >> 8), static_cast<unsigned char>(v)};
    writeBytes(b, sizeof b);
}

void binaryClass::wBool(bool value) {
    const unsigned char b = value ? 1 : 0;
    writeBytes(&b, 1);
}

void binaryClass::writeString(const std::string& text) {
    std::string bytes = textCodec::toShiftJis(text).bytes;
    if (bytes.size() > 255) {
        // Cut at a character boundary: walk the Shift_JIS characters.
        std::size_t keep = 0;
        for (std::size_t i = 0; i < bytes.size();) {
            const auto b = static_cast<unsigned char>(bytes[i]);
            const std::size_t len = ((b >= 0x81 && b <= 0x9F) || (b >= 0xE0 && b <= 0xFC)) ? 2 : 1;
            if (i + len > 255) {
                break;
            }
            i += len;
            keep = i;
        }
        bytes.resize(keep);
    }
    const auto k = static_cast<unsigned char>(bytes.size());
    writeBytes(&k, 1);
    writeBytes(bytes.data(), bytes.size());
}

void binaryClass::writeBinaryData(const std::string& text) {
    wLong(static_cast<std::int32_t>(text.size()));
    writeBytes(text.data(), text.size());
}

std::int32_t binaryClass::rShort() {
    unsigned char b[2];
    if (!readExact(b, sizeof b)) {
        return 0;
    }
    return static_cast<std::int16_t>(static_cast<std::uint16_t>((b[0] << 8) | b[1]));
}

std::int32_t binaryClass::rLong() {
    unsigned char b[4];
    if (!readExact(b, sizeof b)) {
        return 0;
    }
    const std::uint32_t v =
        (std::uint32_t{b[0]} << 24) | (std::uint32_t{b[1]} << 16) | (std::uint32_t{b[2]} << 8) | std::uint32_t{b[3]};
    return static_cast<std::int32_t>(v);
}

bool binaryClass::rBool() {
    unsigned char b = 0;
    if (!readExact(&b, 1)) {
        return false;
    }
    // Any byte other than 0 reads as true.
    return b != 0;
}

std::string binaryClass::readString() {
    unsigned char k = 0;
    if (!readExact(&k, 1)) {
        return {};
    }
    std::string bytes(k, '\0');
    if (!readExact(reinterpret_cast<unsigned char*>(bytes.data()), k)) {
        // The file ends inside the string: like every read past the end, it
        // gives an empty text.
        return {};
    }
    return textCodec::fromShiftJis(bytes);
}

std::string binaryClass::readBinaryData() {
    // The count is taken as unsigned, so a damaged negative count is a huge
    // one; either way no more is read, or allocated, than the file holds.
    const auto count = static_cast<std::uint32_t>(rLong());
    if (m_file == nullptr || count == 0) {
        return {};
    }
    const long here = std::ftell(m_file);
    if (here < 0 || std::fseek(m_file, 0, SEEK_END) != 0) {
        return {};
    }
    const long end = std::ftell(m_file);
    if (end < here || std::fseek(m_file, here, SEEK_SET) != 0) {
        return {};
    }
    const auto left = static_cast<std::uint64_t>(end - here);
    const auto take = static_cast<std::size_t>(std::min<std::uint64_t>(count, left));
    std::string bytes(take, '\0');
    const std::size_t got = std::fread(bytes.data(), 1, take, m_file);
    bytes.resize(got);
    // Damaged bytes must not bring invalid UTF-8 into the settings.
    return textCodec::validUtf8(bytes);
}

bool binaryClass::isEOF() {
    if (m_file == nullptr) {
        return true;
    }
    const int c = std::fgetc(m_file);
    if (c == EOF) {
        return true;
    }
    std::ungetc(c, m_file);
    return false;
}

} // namespace quillon
