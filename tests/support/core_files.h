#pragma once

#include <filesystem>
#include <string>

namespace quillon::testing {

// A fresh folder under the system's temporary folder, removed with all it
// holds when the object dies (also after a test took away its permissions).
class TempFolder {
public:
    TempFolder();
    ~TempFolder();
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;
    const std::filesystem::path& path() const { return m_path; }

private:
    std::filesystem::path m_path;
};

// The whole content of a file ("" when it cannot be read).
std::string readAll(const std::filesystem::path& path);
// Writes `bytes` as the whole content of a file whose folder exists.
void writeAll(const std::filesystem::path& path, const std::string& bytes);

} // namespace quillon::testing
