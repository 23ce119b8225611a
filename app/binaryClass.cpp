#include "app/binaryClass.h"

#include "app/textCodec.h"
#include "export/fileWriter.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <system_error>
#include <unistd.h>

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
    m_written.clear();
    m_dirty = false;

    std::error_code ec;
    std::filesystem::create_directories(folder, ec);
    if (ec) {
        m_error = "cannot create the folder " + folder.string() + ": " + ec.message();
        m_errno = ec.value();
        return false;
    }
    m_path = folder / name;
    // Without blocking: a FIFO at this place must not hold up the start.
    bool existed = true;
    int fd = ::open(m_path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0 && errno == ENOENT) {
        existed = false;
        fd = ::open(m_path.c_str(), O_RDONLY | O_CREAT | O_NONBLOCK | O_NOCTTY | O_CLOEXEC, 0666);
        if (fd < 0) {
            m_errno = errno;
            m_error = describe("cannot create", m_path, m_errno);
            return false;
        }
    } else if (fd < 0) {
        m_errno = errno;
        m_error = describe("cannot open", m_path, m_errno);
        return false;
    }
    struct stat st {};
    const bool statted = ::fstat(fd, &st) == 0;
    if (!statted || !S_ISREG(st.st_mode)) {
        m_errno = !statted ? errno : S_ISDIR(st.st_mode) ? EISDIR : EINVAL;
        m_error = statted ? m_path.string() + " is not a regular file" : describe("cannot open", m_path, m_errno);
        ::close(fd);
        return false;
    }
    m_file = ::fdopen(fd, "rb");
    if (m_file == nullptr) {
        m_errno = errno;
        m_error = describe("cannot open", m_path, m_errno);
        ::close(fd);
        return false;
    }
    return existed;
}

void binaryClass::store() {
    // What an earlier, longer save left beyond the new end stays there.
    std::string bytes = std::move(m_written);
    struct stat st {};
    const int fd = ::fileno(m_file);
    if (::fstat(fd, &st) == 0 && static_cast<std::uint64_t>(st.st_size) > bytes.size()) {
        char buf[1 << 16];
        for (auto at = static_cast<off_t>(bytes.size());;) {
            const ssize_t n = ::pread(fd, buf, sizeof buf, at);
            if (n < 0 && errno == EINTR) {
                continue;
            }
            if (n <= 0) {
                break;
            }
            bytes.append(buf, static_cast<std::size_t>(n));
            at += n;
        }
    }
    const WriteResult result = writeFileSafely(m_path, bytes, m_ops);
    if (!result.ok) {
        m_writeOk = false;
        m_errno = result.errorNumber;
        m_error = "cannot write " + m_path.string() + ": " + result.error;
    }
}

void binaryClass::binaryClose() {
    if (m_file == nullptr) {
        return;
    }
    if (m_dirty && m_writeOk) {
        store();
    }
    std::fclose(m_file);
    m_file = nullptr;
    m_dirty = false;
    m_written.clear();
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
    m_written.append(static_cast<const char*>(data), count);
    m_dirty = true;
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
    if (text.size() > kMaxLongText) {
        if (m_writeOk) {
            m_writeOk = false;
            m_errno = EFBIG;
            m_error = "the filter text is too long to be stored (over 64 MB)";
        }
        return;
    }
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
    // one. A count larger than what is left of the file (or than any text
    // the program stores) is damage: the text reads as empty, nothing is
    // allocated for it, and the reads after it are past the end.
    const auto count = static_cast<std::uint32_t>(rLong());
    if (m_file == nullptr || count == 0) {
        return {};
    }
    struct stat st {};
    const long here = std::ftell(m_file);
    if (here < 0 || ::fstat(::fileno(m_file), &st) != 0) {
        return {};
    }
    const auto left = st.st_size > here ? static_cast<std::uint64_t>(st.st_size - here) : 0;
    if (count > left || count > kMaxLongText) {
        std::fseek(m_file, 0, SEEK_END);
        return {};
    }
    std::string bytes(count, '\0');
    if (!readExact(reinterpret_cast<unsigned char*>(bytes.data()), count)) {
        return {};
    }
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
