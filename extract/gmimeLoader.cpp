// Without the header's macros: this file names the real functions.
#define QUILLON_GMIME_NO_MACROS
#include "extract/gmimeLoader.h"

#include <dlfcn.h>

#include <atomic>
#include <stdexcept>
#include <string>
#include <type_traits>

namespace quillon::gmimeLoader {

namespace {

Functions loadAll() {
    // Kept loaded for the life of the process: GLib's type system cannot be
    // unloaded.
    void* library = ::dlopen(QUILLON_GMIME_LIBRARY, RTLD_NOW | RTLD_LOCAL);
    if (library == nullptr) {
        const char* why = ::dlerror();
        throw std::runtime_error(std::string("cannot load " QUILLON_GMIME_LIBRARY ": ") +
                                 (why != nullptr ? why : "unknown error"));
    }
    Functions f;
    const auto find = [library](auto& slot, const char* name) {
        // Looked up in the library and the libraries it depends on (GLib).
        void* address = ::dlsym(library, name);
        if (address == nullptr) {
            throw std::runtime_error(std::string("cannot find ") + name + " in " QUILLON_GMIME_LIBRARY);
        }
        slot = reinterpret_cast<std::remove_reference_t<decltype(slot)>>(address);
    };
#define QUILLON_GMIME_FIND(name) find(f.name, #name);
    QUILLON_GMIME_FUNCTIONS(QUILLON_GMIME_FIND)
#undef QUILLON_GMIME_FIND
    return f;
}

} // namespace

const Functions& load() {
    static const Functions table = loadAll();
    return table;
}

namespace {

// Set once the first try has ended.
std::atomic<bool> tried{false};
// A test's pretence that GMime is missing, and whether it was asked meanwhile.
std::atomic<bool> pretended{false};
std::atomic<bool> askedWhilePretending{false};

// The outcome of the first try, kept for the life of the process.
struct Attempt {
    bool loaded = false;
    std::string failure;
};

const Attempt& attempt() {
    static const Attempt once = [] {
        Attempt a;
        try {
            load();
            a.loaded = true;
        } catch (const std::exception& e) {
            a.failure = e.what();
        }
        tried = true;
        return a;
    }();
    return once;
}

} // namespace

bool available() noexcept {
    if (pretended) {
        askedWhilePretending = true;
        return false;
    }
    try {
        return attempt().loaded;
    } catch (...) {
        return false; // no memory for the words
    }
}

std::string failure() {
    if (pretended) {
        return askedWhilePretending ? "cannot load " QUILLON_GMIME_LIBRARY ": left out by a test" : "";
    }
    return tried ? attempt().failure : std::string();
}

void pretendMissing(bool missing) {
    pretended = missing;
    askedWhilePretending = false;
}

} // namespace quillon::gmimeLoader
