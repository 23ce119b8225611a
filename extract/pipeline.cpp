#include "extract/pipeline.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>
#include <dirent.h>
#include <set>
#include <sys/stat.h>
#include <system_error>

namespace quillon::pipeline {

namespace fs = std::filesystem;

void walkFolder(const fs::path& folder, const std::function<void(const fs::path&)>& onFile,
                const std::function<void(const fs::path&, const std::string&)>& onError, const JobContext& ctx) {
    // An explicit stack instead of recursion: a very deep tree must not
    // overflow the thread's stack.
    struct Level {
        std::vector<fs::directory_entry> entries;
        std::size_t next = 0;
    };
    std::set<fs::path> visited;
    std::vector<Level> stack;

    auto enter = [&](const fs::path& dir) {
        std::error_code ec;
        const fs::path canonical = fs::canonical(dir, ec);
        if (ec) {
            if (onError) {
                onError(dir, ec.message());
            }
            return;
        }
        if (!visited.insert(canonical).second) {
            return; // already walked: a link back to a parent or a second link to the same folder
        }
        Level level;
        fs::directory_iterator it(dir, fs::directory_options::none, ec);
        if (ec) {
            if (onError) {
                onError(dir, ec.message());
            }
            return;
        }
        for (const fs::directory_iterator end; it != end; it.increment(ec)) {
            if (ec) {
                if (onError) {
                    onError(dir, ec.message());
                }
                break;
            }
            const std::string name = it->path().filename().string();
            if (!name.empty() && name.front() == '.') {
                continue;
            }
            level.entries.push_back(*it);
        }
        std::sort(level.entries.begin(), level.entries.end(),
                  [](const fs::directory_entry& a, const fs::directory_entry& b) {
                      // Entries of one folder: their names decide, as path order has it.
                      return a.path().native() < b.path().native();
                  });
        stack.push_back(std::move(level));
    };

    enter(folder);
    while (!stack.empty()) {
        if (ctx.stopRequested()) {
            return;
        }
        Level& top = stack.back();
        if (top.next >= top.entries.size()) {
            stack.pop_back();
            continue;
        }
        const fs::directory_entry dirEntry = top.entries[top.next++];
        const fs::path& entry = dirEntry.path();
        std::error_code ec;
        // The type the folder listing gave, where it gave one and the entry is
        // no link: no call to the system for a file. (symlink_status() would
        // ask the system every time.) A link, or a listing without types, is
        // asked about, following links.
        const bool directory = dirEntry.is_directory(ec);
        if (ec) {
            continue; // a dangling link or an entry that vanished
        }
        if (directory) {
            enter(entry);
        } else if (dirEntry.is_regular_file(ec) && !ec) {
            onFile(entry);
        }
        ctx.yieldNow();
    }
}

namespace {

// A folder of a walk being gone through: its names, sorted, in one buffer.
struct ListedFolder {
    struct Entry {
        std::uint64_t key;  // the name's first eight bytes, big-endian, zero-padded
        std::uint32_t at;   // where the name begins in `names`
        std::uint32_t size; // its length
        unsigned char type; // the type readdir gave (DT_UNKNOWN when none)
    };
    std::string path; // as the walk reached it
    std::string names;
    std::vector<Entry> entries;
    std::size_t next = 0;

    std::string_view name(const Entry& e) const { return {names.data() + e.at, e.size}; }
};

// Names ordered byte by byte, as a string orders them, mostly by one integer
// comparison: a name holds no zero byte, so the padding sorts a prefix first.
std::uint64_t nameKey(std::string_view name) {
    std::uint64_t key = 0;
    for (std::size_t k = 0; k < 8; ++k) {
        key = (key << 8) | (k < name.size() ? static_cast<unsigned char>(name[k]) : 0U);
    }
    return key;
}

// Sorts a folder's entries by name: by key with a radix sort (a pass for
// each byte of the key, those where all keys have the same byte skipped),
// then each run of equal keys by the rest of the names.
void sortEntries(ListedFolder& level) {
    std::vector<ListedFolder::Entry>& entries = level.entries;
    const auto byName = [&level](const ListedFolder::Entry& a, const ListedFolder::Entry& b) {
        return level.name(a) < level.name(b);
    };
    const std::size_t n = entries.size();
    if (n < 32) {
        std::sort(entries.begin(), entries.end(), [&](const ListedFolder::Entry& a, const ListedFolder::Entry& b) {
            return a.key != b.key ? a.key < b.key : byName(a, b);
        });
        return;
    }
    std::vector<ListedFolder::Entry> spare(n);
    for (unsigned shift = 0; shift < 64; shift += 8) {
        std::array<std::size_t, 257> count{};
        for (const ListedFolder::Entry& e : entries) {
            ++count[((e.key >> shift) & 0xFF) + 1];
        }
        if (std::find(count.begin(), count.end(), n) != count.end()) {
            continue; // every key has the same byte here
        }
        for (std::size_t b = 1; b < count.size(); ++b) {
            count[b] += count[b - 1];
        }
        for (const ListedFolder::Entry& e : entries) {
            spare[count[(e.key >> shift) & 0xFF]++] = e;
        }
        entries.swap(spare);
    }
    for (std::size_t i = 0; i < n;) {
        std::size_t j = i + 1;
        while (j < n && entries[j].key == entries[i].key) {
            ++j;
        }
        if (j - i > 1) {
            std::sort(entries.begin() + static_cast<std::ptrdiff_t>(i),
                      entries.begin() + static_cast<std::ptrdiff_t>(j), byName);
        }
        i = j;
    }
}

std::string errorText(int err) {
    return std::error_code(err, std::generic_category()).message();
}

} // namespace

void listFolder(const std::string& folder, const std::function<void(std::string_view path)>& onFile,
                const std::function<void(std::string_view folder, const std::string& why)>& onError,
                const JobContext& ctx) {
    std::set<std::string> visited; // canonical paths of the folders walked
    std::vector<ListedFolder> stack;
    std::string entryPath;

    const auto fail = [&](std::string_view dir, const std::string& why) {
        if (onError) {
            onError(dir, why);
        }
    };
    const auto enter = [&](const std::string& dir) {
        std::error_code ec;
        const fs::path canonical = fs::canonical(fs::path(dir), ec);
        if (ec) {
            fail(dir, ec.message());
            return;
        }
        if (!visited.insert(canonical.native()).second) {
            return; // already walked: a link back to a parent or a second link to the same folder
        }
        DIR* d = ::opendir(dir.c_str());
        if (d == nullptr) {
            fail(dir, errorText(errno));
            return;
        }
        ListedFolder level;
        level.path = dir;
        // Room for about as many names as the folder's size tells (a hint
        // only): the buffers then seldom move while they fill.
        struct stat st {};
        if (::fstat(::dirfd(d), &st) == 0 && st.st_size > 0) {
            const auto hint = std::min<std::size_t>(static_cast<std::size_t>(st.st_size), std::size_t{64} << 20);
            level.entries.reserve(hint / 24);
            level.names.reserve(hint / 2);
        }
        bool any = false; // an entry besides "." and ".." was read
        while (true) {
            errno = 0;
            const dirent* e = ::readdir(d);
            if (e == nullptr) {
                const int err = errno;
                if (err != 0 && !any) {
                    // Nothing could be read: the folder could not be listed.
                    ::closedir(d);
                    fail(dir, errorText(err));
                    return;
                }
                break; // the end, or a failure after some entries: those stay
            }
            const std::string_view name(e->d_name);
            if (name == "." || name == "..") {
                continue;
            }
            any = true;
            if (name.front() == '.') {
                continue;
            }
            level.entries.push_back({nameKey(name), static_cast<std::uint32_t>(level.names.size()),
                                     static_cast<std::uint32_t>(name.size()), e->d_type});
            level.names.append(name);
        }
        ::closedir(d);
        sortEntries(level);
        stack.push_back(std::move(level));
    };

    enter(folder);
    while (!stack.empty()) {
        if (ctx.stopRequested()) {
            return;
        }
        ListedFolder& top = stack.back();
        if (top.next >= top.entries.size()) {
            stack.pop_back();
            continue;
        }
        const ListedFolder::Entry& e = top.entries[top.next++];
        entryPath = top.path;
        if (!entryPath.empty() && entryPath.back() != '/') {
            entryPath += '/';
        }
        entryPath.append(top.name(e));
        unsigned char type = e.type;
        if (type == DT_LNK || type == DT_UNKNOWN) {
            // A link is followed; a listing without types is asked about.
            struct stat st {};
            if (::stat(entryPath.c_str(), &st) != 0) {
                continue; // a dangling link or an entry that vanished
            }
            type = S_ISDIR(st.st_mode) ? DT_DIR : S_ISREG(st.st_mode) ? DT_REG : DT_UNKNOWN;
        }
        if (type == DT_DIR) {
            enter(entryPath); // may move `top`
        } else if (type == DT_REG) {
            onFile(entryPath);
        }
        ctx.yieldNow();
    }
}

} // namespace quillon::pipeline
