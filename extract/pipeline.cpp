#include "extract/pipeline.h"

#include <algorithm>
#include <set>

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

} // namespace quillon::pipeline
