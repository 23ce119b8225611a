// The folder walk on trees built from the input: folders, files, hidden
// entries, FIFOs, and links to folders (loops back to a parent included), to
// files and to nothing. The walk must give the files a plain recursive walk
// gives, in the same order: names sorted, hidden entries skipped, links
// followed, every folder walked once, anything but regular files left out.
#include "extract/pipeline.h"
#include "fuzzCheck.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <set>
#include <string>
#include <sys/stat.h>
#include <vector>

namespace {

namespace fs = std::filesystem;

const std::filesystem::path& folder() {
    return quillon::fuzz::scratchFolder("quillon-fuzz-walk");
}

void walkPlainly(const fs::path& dir, std::set<fs::path>& visited, std::vector<fs::path>& files) {
    std::error_code ec;
    if (!visited.insert(fs::canonical(dir, ec)).second || ec) {
        return;
    }
    std::vector<fs::path> entries;
    for (const auto& entry : fs::directory_iterator(dir, ec)) {
        if (entry.path().filename().string().front() != '.') {
            entries.push_back(entry.path());
        }
    }
    std::sort(entries.begin(), entries.end());
    for (const fs::path& entry : entries) {
        const fs::file_status st = fs::status(entry, ec);
        if (ec) {
            continue;
        }
        if (fs::is_directory(st)) {
            walkPlainly(entry, visited, files);
        } else if (fs::is_regular_file(st)) {
            files.push_back(entry);
        }
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static constexpr const char* kNames[] = {"a", "b", "B", "a.txt", ".hidden", "z z", "\xE3\x81\x82", "-", "..a", "c"};
    const fs::path root = folder() / "root";
    std::error_code ec;
    fs::remove_all(root, ec);
    fs::create_directory(root);

    quillon::fuzz::InputReader in(data, size);
    std::vector<fs::path> dirs{root};
    std::vector<fs::path> made;
    for (int step = 0; step < 24 && !in.empty(); ++step) {
        const unsigned kind = in.pick(6);
        const fs::path parent = dirs[in.pick(static_cast<unsigned>(dirs.size()))];
        const fs::path path = parent / kNames[in.pick(sizeof kNames / sizeof kNames[0])];
        if (fs::exists(fs::symlink_status(path, ec))) {
            continue;
        }
        switch (kind) {
        case 0:
            fs::create_directory(path, ec);
            dirs.push_back(path);
            break;
        case 1:
            std::ofstream(path) << "x";
            made.push_back(path);
            break;
        case 2: // a link to a folder, as an absolute or a relative path
            if (in.byte() % 2 == 0) {
                fs::create_directory_symlink(dirs[in.pick(static_cast<unsigned>(dirs.size()))], path, ec);
            } else {
                fs::create_directory_symlink("..", path, ec);
            }
            break;
        case 3: // a link to a file, or to nothing
            if (!made.empty() && in.byte() % 2 == 0) {
                fs::create_symlink(made[in.pick(static_cast<unsigned>(made.size()))], path, ec);
            } else {
                fs::create_symlink("missing", path, ec);
            }
            break;
        case 4:
            ::mkfifo(path.c_str(), 0600);
            break;
        default: // a folder inside the hidden one or the root
            fs::create_directories(path / "deeper", ec);
            dirs.push_back(path / "deeper");
            break;
        }
    }

    std::vector<fs::path> walked;
    std::vector<fs::path> failed;
    quillon::pipeline::walkFolder(
        root, [&walked](const fs::path& file) { walked.push_back(file); },
        [&failed](const fs::path& where, const std::string&) { failed.push_back(where); });
    std::set<fs::path> visited;
    std::vector<fs::path> expected;
    walkPlainly(root, visited, expected);
    FUZZ_CHECK(failed.empty());
    FUZZ_CHECK(walked == expected);
    return 0;
}
