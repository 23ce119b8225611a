#include "app/utf8Check.h"

#include <algorithm>
#include <cstdint>
#include <cstring>

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#define QUILLON_HAVE_AVX2_PATH 1
#include <cpuid.h>
#include <immintrin.h>
#endif

namespace quillon::utf8Check {

std::size_t sequence(const unsigned char* p, std::size_t left, std::size_t& bad) {
    const unsigned char b0 = p[0];
    std::size_t need = 0;
    unsigned char lo = 0x80, hi = 0xBF;
    if (b0 < 0x80) {
        return 1;
    } else if (b0 >= 0xC2 && b0 <= 0xDF) {
        need = 1;
    } else if (b0 >= 0xE0 && b0 <= 0xEF) {
        need = 2;
        lo = b0 == 0xE0 ? 0xA0 : 0x80;
        hi = b0 == 0xED ? 0x9F : 0xBF;
    } else if (b0 >= 0xF0 && b0 <= 0xF4) {
        need = 3;
        lo = b0 == 0xF0 ? 0x90 : 0x80;
        hi = b0 == 0xF4 ? 0x8F : 0xBF;
    } else {
        bad = 1;
        return 0;
    }
    for (std::size_t i = 1; i <= need; ++i) {
        if (i >= left || p[i] < lo || p[i] > hi) {
            bad = i;
            return 0;
        }
        lo = 0x80;
        hi = 0xBF;
    }
    return need + 1;
}

namespace {

// The portable check. ASCII is skipped 32 bytes, then eight bytes at a time.
std::size_t firstInvalidScalar(const unsigned char* p, std::size_t n) {
    std::size_t i = 0;
    while (i < n) {
        while (i + 32 <= n) {
            std::uint64_t w[4];
            std::memcpy(w, p + i, 32);
            if (((w[0] | w[1] | w[2] | w[3]) & 0x8080808080808080ULL) != 0) {
                break;
            }
            i += 32;
        }
        if (i == n) {
            break; // the text ended on a 32-byte boundary
        }
        if (i + 8 <= n) {
            std::uint64_t word;
            std::memcpy(&word, p + i, 8);
            if ((word & 0x8080808080808080ULL) == 0) {
                i += 8;
                continue;
            }
        }
        const unsigned char b0 = p[i];
        if (b0 < 0x80) {
            ++i;
            continue;
        }
        // The three-byte characters of Japanese text, without the leads
        // E0 and ED, whose second byte has a narrower range.
        if ((b0 & 0xF0) == 0xE0 && b0 != 0xE0 && b0 != 0xED && i + 2 < n && (p[i + 1] & 0xC0) == 0x80 &&
            (p[i + 2] & 0xC0) == 0x80) {
            i += 3;
            continue;
        }
        std::size_t bad = 0;
        const std::size_t len = sequence(p + i, n - i, bad);
        if (len == 0) {
            return i;
        }
        i += len;
    }
    return n;
}

// Where a character begins at or before `at`, stepping back over at most three
// continuation bytes: in text that is valid up to `at + 1` (bar a character
// cut off there) this is the start of the character that holds byte `at`.
std::size_t characterStart(const unsigned char* p, std::size_t at) {
    std::size_t s = at;
    while (s > 0 && at - s < 3 && (p[s] & 0xC0) == 0x80) {
        --s;
    }
    return s;
}

#ifdef QUILLON_HAVE_AVX2_PATH

// The vector check: each byte is classified together with the byte before it
// by three table look-ups (the high nibble of the previous byte, its low
// nibble, the high nibble of this byte); a combination that no valid text has
// leaves a bit set. What the pairs cannot see (a third or fourth byte that
// must be a continuation) is compared with where continuations are. The
// vectors before a block are loaded from the text itself, one to three bytes
// back, so no state is carried but the "cut-off character" of the last block.
namespace avx2 {

#define QUILLON_AVX2 __attribute__((target("avx2")))

constexpr std::uint8_t kTooShort = 1 << 0;
constexpr std::uint8_t kTooLong = 1 << 1;
constexpr std::uint8_t kOverlong3 = 1 << 2;
constexpr std::uint8_t kTooLarge = 1 << 3;
constexpr std::uint8_t kSurrogate = 1 << 4;
constexpr std::uint8_t kOverlong2 = 1 << 5;
constexpr std::uint8_t kTooLarge1000 = 1 << 6;
constexpr std::uint8_t kOverlong4 = 1 << 6;
constexpr std::uint8_t kTwoConts = 1 << 7;
constexpr std::uint8_t kCarry = kTooShort | kTooLong | kTwoConts;

QUILLON_AVX2 inline __m256i table(std::uint8_t t0, std::uint8_t t1, std::uint8_t t2, std::uint8_t t3, std::uint8_t t4,
                                  std::uint8_t t5, std::uint8_t t6, std::uint8_t t7, std::uint8_t t8, std::uint8_t t9,
                                  std::uint8_t t10, std::uint8_t t11, std::uint8_t t12, std::uint8_t t13,
                                  std::uint8_t t14, std::uint8_t t15) {
    const auto c = [](std::uint8_t v) { return static_cast<char>(v); };
    return _mm256_setr_epi8(c(t0), c(t1), c(t2), c(t3), c(t4), c(t5), c(t6), c(t7), c(t8), c(t9), c(t10), c(t11),
                            c(t12), c(t13), c(t14), c(t15), c(t0), c(t1), c(t2), c(t3), c(t4), c(t5), c(t6), c(t7),
                            c(t8), c(t9), c(t10), c(t11), c(t12), c(t13), c(t14), c(t15));
}

QUILLON_AVX2 inline __m256i highNibble(__m256i v) {
    return _mm256_and_si256(_mm256_srli_epi16(v, 4), _mm256_set1_epi8(0x0F));
}

struct Tables {
    __m256i byte1High;
    __m256i byte1Low;
    __m256i byte2High;
};

QUILLON_AVX2 inline Tables makeTables() {
    Tables t;
    t.byte1High = table(kTooLong, kTooLong, kTooLong, kTooLong, kTooLong, kTooLong, kTooLong, kTooLong, kTwoConts,
                        kTwoConts, kTwoConts, kTwoConts, kTooShort | kOverlong2, kTooShort,
                        kTooShort | kOverlong3 | kSurrogate, kTooShort | kTooLarge | kTooLarge1000 | kOverlong4);
    constexpr std::uint8_t kLarge = kCarry | kTooLarge | kTooLarge1000;
    t.byte1Low =
        table(kCarry | kOverlong3 | kOverlong2 | kOverlong4, kCarry | kOverlong2, kCarry, kCarry, kCarry | kTooLarge,
              kLarge, kLarge, kLarge, kLarge, kLarge, kLarge, kLarge, kLarge, kLarge | kSurrogate, kLarge, kLarge);
    t.byte2High =
        table(kTooShort, kTooShort, kTooShort, kTooShort, kTooShort, kTooShort, kTooShort, kTooShort,
              kTooLong | kOverlong2 | kTwoConts | kOverlong3 | kTooLarge1000 | kOverlong4,
              kTooLong | kOverlong2 | kTwoConts | kOverlong3 | kTooLarge,
              kTooLong | kOverlong2 | kTwoConts | kSurrogate | kTooLarge,
              kTooLong | kOverlong2 | kTwoConts | kSurrogate | kTooLarge, kTooShort, kTooShort, kTooShort, kTooShort);
    return t;
}

QUILLON_AVX2 inline __m256i load(const unsigned char* p) {
    return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p));
}

// The error bits of the 32 bytes at p; p[-3] to p[-1] must be readable.
QUILLON_AVX2 inline __m256i blockErrors(const Tables& t, const unsigned char* p) {
    const __m256i input = load(p);
    const __m256i prev1 = load(p - 1);
    const __m256i low = _mm256_set1_epi8(0x0F);
    const __m256i special =
        _mm256_and_si256(_mm256_and_si256(_mm256_shuffle_epi8(t.byte1High, highNibble(prev1)),
                                          _mm256_shuffle_epi8(t.byte1Low, _mm256_and_si256(prev1, low))),
                         _mm256_shuffle_epi8(t.byte2High, highNibble(input)));
    // A third byte after a lead 111xxxxx, a fourth after 1111xxxx: the high
    // bit set by the saturating subtraction marks where one must be.
    const __m256i third = _mm256_subs_epu8(load(p - 2), _mm256_set1_epi8(static_cast<char>(0xE0 - 0x80)));
    const __m256i fourth = _mm256_subs_epu8(load(p - 3), _mm256_set1_epi8(static_cast<char>(0xF0 - 0x80)));
    const __m256i must23 = _mm256_and_si256(_mm256_or_si256(third, fourth), _mm256_set1_epi8(static_cast<char>(0x80)));
    return _mm256_xor_si256(must23, special);
}

// Non-zero where the last bytes of the 32 at p begin a character that needs
// more bytes than the block holds.
QUILLON_AVX2 inline __m256i cutOff(const unsigned char* p) {
    const __m256i limits = _mm256_setr_epi8(-1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1,
                                            -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, static_cast<char>(0xF0 - 1),
                                            static_cast<char>(0xE0 - 1), static_cast<char>(0xC0 - 1));
    return _mm256_subs_epu8(load(p), limits);
}

QUILLON_AVX2 inline bool anySet(__m256i v) {
    return _mm256_testz_si256(v, v) == 0;
}

// What the vector check saw besides errors, before the point it returns.
struct Seen {
    bool amp = false;
    bool esc = false;
    bool high = false;
};

// Checks [0, end) in blocks of 64 bytes (end a multiple of 64, at least 64).
// Returns the offset of the first stride with an error, or `end`; `seen` tells
// whether a "&", an escape or an 8-bit byte was seen before that point.
QUILLON_AVX2 std::size_t checkBlocks(const unsigned char* p, std::size_t end, Seen& seen) {
    const Tables t = makeTables();
    const __m256i ampersand = _mm256_set1_epi8('&');
    const __m256i escape = _mm256_set1_epi8(0x1B);
    __m256i seenAmp = _mm256_setzero_si256();
    __m256i seenEsc = _mm256_setzero_si256();
    bool high = false;
    __m256i cut = _mm256_setzero_si256();
    // The first block has nothing before it: it is checked from a copy with
    // three ASCII bytes in front.
    alignas(32) unsigned char first[3 + 64 + 29] = {};
    std::memcpy(first + 3, p, 64);
    // Errors are gathered over a stride and tested once for it.
    constexpr std::size_t kStride = 1024;
    std::size_t strideStart = 0;
    __m256i err = _mm256_setzero_si256();
    for (std::size_t i = 0; i < end; i += 64) {
        const unsigned char* at = i == 0 ? first + 3 : p + i;
        const __m256i a = load(at);
        const __m256i b = load(at + 32);
        seenAmp =
            _mm256_or_si256(seenAmp, _mm256_or_si256(_mm256_cmpeq_epi8(a, ampersand), _mm256_cmpeq_epi8(b, ampersand)));
        seenEsc = _mm256_or_si256(seenEsc, _mm256_or_si256(_mm256_cmpeq_epi8(a, escape), _mm256_cmpeq_epi8(b, escape)));
        if (_mm256_movemask_epi8(_mm256_or_si256(a, b)) == 0) {
            // All ASCII: only a character cut off before the block can be wrong.
            err = _mm256_or_si256(err, cut);
            cut = _mm256_setzero_si256();
        } else {
            high = true;
            err = _mm256_or_si256(err, _mm256_or_si256(blockErrors(t, at), blockErrors(t, at + 32)));
            cut = cutOff(at + 32);
        }
        if (i + 64 - strideStart == kStride || i + 64 == end) {
            if (anySet(err)) {
                seen = {anySet(seenAmp), anySet(seenEsc), high};
                return strideStart;
            }
            strideStart = i + 64;
        }
    }
    seen = {anySet(seenAmp), anySet(seenEsc), high};
    return end;
}

} // namespace avx2

// The same check on 64 bytes at once, with the processors' 512-bit registers:
// half the instructions per byte of the 256-bit one.
namespace avx512 {

#define QUILLON_AVX512 __attribute__((target("avx512f,avx512bw")))

using avx2::kCarry;
using avx2::kOverlong2;
using avx2::kOverlong3;
using avx2::kOverlong4;
using avx2::kSurrogate;
using avx2::kTooLarge;
using avx2::kTooLarge1000;
using avx2::kTooLong;
using avx2::kTooShort;
using avx2::kTwoConts;

// A 16-byte table in each of the four lanes (the byte shuffle looks up within
// a lane).
QUILLON_AVX512 inline __m512i table(const std::uint8_t (&t)[16]) {
    alignas(64) std::uint8_t lanes[64];
    for (std::size_t lane = 0; lane < 4; ++lane) {
        std::memcpy(lanes + 16 * lane, t, 16);
    }
    return _mm512_load_si512(lanes);
}

QUILLON_AVX512 inline __m512i load(const unsigned char* p) {
    return _mm512_loadu_si512(p);
}

QUILLON_AVX512 inline __m512i highNibble(__m512i v) {
    return _mm512_and_si512(_mm512_srli_epi16(v, 4), _mm512_set1_epi8(0x0F));
}

struct Tables {
    __m512i byte1High;
    __m512i byte1Low;
    __m512i byte2High;
};

QUILLON_AVX512 inline Tables makeTables() {
    constexpr std::uint8_t kLarge = kCarry | kTooLarge | kTooLarge1000;
    static constexpr std::uint8_t byte1High[16] = {kTooLong,
                                                   kTooLong,
                                                   kTooLong,
                                                   kTooLong,
                                                   kTooLong,
                                                   kTooLong,
                                                   kTooLong,
                                                   kTooLong,
                                                   kTwoConts,
                                                   kTwoConts,
                                                   kTwoConts,
                                                   kTwoConts,
                                                   kTooShort | kOverlong2,
                                                   kTooShort,
                                                   kTooShort | kOverlong3 | kSurrogate,
                                                   kTooShort | kTooLarge | kTooLarge1000 | kOverlong4};
    static constexpr std::uint8_t byte1Low[16] = {kCarry | kOverlong3 | kOverlong2 | kOverlong4,
                                                  kCarry | kOverlong2,
                                                  kCarry,
                                                  kCarry,
                                                  kCarry | kTooLarge,
                                                  kLarge,
                                                  kLarge,
                                                  kLarge,
                                                  kLarge,
                                                  kLarge,
                                                  kLarge,
                                                  kLarge,
                                                  kLarge,
                                                  kLarge | kSurrogate,
                                                  kLarge,
                                                  kLarge};
    static constexpr std::uint8_t byte2High[16] = {kTooShort,
                                                   kTooShort,
                                                   kTooShort,
                                                   kTooShort,
                                                   kTooShort,
                                                   kTooShort,
                                                   kTooShort,
                                                   kTooShort,
                                                   kTooLong | kOverlong2 | kTwoConts | kOverlong3 | kTooLarge1000 |
                                                       kOverlong4,
                                                   kTooLong | kOverlong2 | kTwoConts | kOverlong3 | kTooLarge,
                                                   kTooLong | kOverlong2 | kTwoConts | kSurrogate | kTooLarge,
                                                   kTooLong | kOverlong2 | kTwoConts | kSurrogate | kTooLarge,
                                                   kTooShort,
                                                   kTooShort,
                                                   kTooShort,
                                                   kTooShort};
    return {table(byte1High), table(byte1Low), table(byte2High)};
}

// The error bits of the 64 bytes at p; p[-3] to p[-1] must be readable.
QUILLON_AVX512 inline __m512i blockErrors(const Tables& t, const unsigned char* p) {
    const __m512i input = load(p);
    const __m512i prev1 = load(p - 1);
    const __m512i special = _mm512_and_si512(
        _mm512_and_si512(_mm512_shuffle_epi8(t.byte1High, highNibble(prev1)),
                         _mm512_shuffle_epi8(t.byte1Low, _mm512_and_si512(prev1, _mm512_set1_epi8(0x0F)))),
        _mm512_shuffle_epi8(t.byte2High, highNibble(input)));
    const __m512i third = _mm512_subs_epu8(load(p - 2), _mm512_set1_epi8(static_cast<char>(0xE0 - 0x80)));
    const __m512i fourth = _mm512_subs_epu8(load(p - 3), _mm512_set1_epi8(static_cast<char>(0xF0 - 0x80)));
    const __m512i must23 = _mm512_and_si512(_mm512_or_si512(third, fourth), _mm512_set1_epi8(static_cast<char>(0x80)));
    return _mm512_xor_si512(must23, special);
}

// Non-zero where the last bytes of the 64 at p begin a character that needs
// more bytes than the block holds.
QUILLON_AVX512 inline __m512i cutOff(const unsigned char* p) {
    alignas(64) static constexpr std::uint8_t limits[64] = {
        0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF,     0xFF,     0xFF,
        0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF,     0xFF,     0xFF,
        0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF,     0xFF,     0xFF,
        0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xF0 - 1, 0xE0 - 1, 0xC0 - 1};
    return _mm512_subs_epu8(load(p), _mm512_load_si512(limits));
}

QUILLON_AVX512 inline bool anySet(__m512i v) {
    return _mm512_test_epi8_mask(v, v) != 0;
}

// As avx2::checkBlocks, 64 bytes a step.
QUILLON_AVX512 std::size_t checkBlocks(const unsigned char* p, std::size_t end, avx2::Seen& seen) {
    const Tables t = makeTables();
    const __m512i ampersand = _mm512_set1_epi8('&');
    const __m512i escape = _mm512_set1_epi8(0x1B);
    __mmask64 seenAmp = 0;
    __mmask64 seenEsc = 0;
    bool high = false;
    __m512i cut = _mm512_setzero_si512();
    alignas(64) unsigned char first[3 + 64 + 61] = {};
    std::memcpy(first + 3, p, 64);
    constexpr std::size_t kStride = 1024;
    std::size_t strideStart = 0;
    __m512i err = _mm512_setzero_si512();
    for (std::size_t i = 0; i < end; i += 64) {
        const unsigned char* at = i == 0 ? first + 3 : p + i;
        const __m512i a = load(at);
        seenAmp |= _mm512_cmpeq_epi8_mask(a, ampersand);
        seenEsc |= _mm512_cmpeq_epi8_mask(a, escape);
        if (_mm512_movepi8_mask(a) == 0) {
            err = _mm512_or_si512(err, cut);
            cut = _mm512_setzero_si512();
        } else {
            high = true;
            err = _mm512_or_si512(err, blockErrors(t, at));
            cut = cutOff(at);
        }
        if (i + 64 - strideStart == kStride || i + 64 == end) {
            if (anySet(err)) {
                seen = {seenAmp != 0, seenEsc != 0, high};
                return strideStart;
            }
            strideStart = i + 64;
        }
    }
    seen = {seenAmp != 0, seenEsc != 0, high};
    return end;
}

} // namespace avx512

// The vector check of the whole text. The blocks end where the last full
// 64 bytes end; the scalar check takes over at the start of the character
// that holds the last byte before that point (or before the first stride with
// an error), so it sees that character whole and tells the exact offset.
template <class CheckBlocks>
std::size_t firstInvalidVector(const unsigned char* p, std::size_t n, Inspection* inspection, CheckBlocks checkBlocks) {
    const auto look = [&](std::size_t from, avx2::Seen seen) {
        if (inspection != nullptr) {
            inspection->hasAmpersand = seen.amp || std::memchr(p + from, '&', n - from) != nullptr;
            inspection->hasEscape = seen.esc || std::memchr(p + from, 0x1B, n - from) != nullptr;
            inspection->hasHigh = seen.high || std::any_of(p + from, p + n, [](unsigned char b) { return b >= 0x80; });
        }
    };
    if (n < 64) {
        const std::size_t r = firstInvalidScalar(p, n);
        look(0, {});
        return r;
    }
    const std::size_t end = n / 64 * 64;
    avx2::Seen seen;
    const std::size_t upTo = checkBlocks(p, end, seen);
    const std::size_t from = upTo == 0 ? 0 : characterStart(p, upTo - 1);
    const std::size_t r = from + firstInvalidScalar(p + from, n - from);
    look(from, seen);
    return r;
}

std::size_t firstInvalidWith(Path path, const unsigned char* p, std::size_t n, Inspection* inspection) {
    return path == Path::Avx512 ? firstInvalidVector(p, n, inspection, avx512::checkBlocks)
                                : firstInvalidVector(p, n, inspection, avx2::checkBlocks);
}

#endif

#ifdef QUILLON_HAVE_AVX2_PATH

// The vector instructions the processor has and the system saves the
// registers of, asked once with three instructions. (GCC's
// __builtin_cpu_supports would have its run-time library ask about every
// feature at every start of the program, with instructions that a virtual
// machine makes slow.)
struct CpuFeatures {
    bool avx2 = false;
    bool avx512 = false; // F and BW
};

CpuFeatures askProcessor() {
    CpuFeatures f;
    unsigned a = 0, b = 0, c = 0, d = 0;
    if (__get_cpuid(1, &a, &b, &c, &d) == 0 || (c & bit_OSXSAVE) == 0 || (c & bit_AVX) == 0) {
        return f;
    }
    unsigned xcr0 = 0, xcr0High = 0;
    __asm__("xgetbv" : "=a"(xcr0), "=d"(xcr0High) : "c"(0));
    const bool ymm = (xcr0 & 0x6u) == 0x6u;   // SSE and AVX state
    const bool zmm = (xcr0 & 0xE6u) == 0xE6u; // and the opmask and 512-bit state
    if (!ymm || __get_cpuid_count(7, 0, &a, &b, &c, &d) == 0) {
        return f;
    }
    f.avx2 = (b & bit_AVX2) != 0;
    f.avx512 = zmm && (b & bit_AVX512F) != 0 && (b & bit_AVX512BW) != 0;
    return f;
}

const CpuFeatures& cpuFeatures() {
    static const CpuFeatures features = askProcessor();
    return features;
}

#endif

} // namespace

bool avx512Available() {
#ifdef QUILLON_HAVE_AVX2_PATH
    return cpuFeatures().avx512;
#else
    return false;
#endif
}

bool avx2Available() {
#ifdef QUILLON_HAVE_AVX2_PATH
    return cpuFeatures().avx2;
#else
    return false;
#endif
}

Path bestPath() {
    return avx512Available() ? Path::Avx512 : avx2Available() ? Path::Avx2 : Path::Scalar;
}

namespace {

// Whether `path` is a vector path this processor can run.
bool runs(Path path) {
    return (path == Path::Avx2 && avx2Available()) || (path == Path::Avx512 && avx512Available());
}

} // namespace

std::size_t firstInvalid(std::string_view text, Path path) {
    if (text.empty()) {
        return 0;
    }
    const auto* p = reinterpret_cast<const unsigned char*>(text.data());
#ifdef QUILLON_HAVE_AVX2_PATH
    if (runs(path)) {
        return firstInvalidWith(path, p, text.size(), nullptr);
    }
#endif
    (void)path;
    return firstInvalidScalar(p, text.size());
}

Inspection inspect(std::string_view text, Path path) {
    if (text.empty()) {
        return {}; // an empty view may have no bytes at all to point at
    }
    const auto* p = reinterpret_cast<const unsigned char*>(text.data());
    Inspection seen;
#ifdef QUILLON_HAVE_AVX2_PATH
    if (runs(path)) {
        seen.valid = firstInvalidWith(path, p, text.size(), &seen) == text.size();
        return seen;
    }
#endif
    (void)path;
    seen.valid = firstInvalidScalar(p, text.size()) == text.size();
    if (seen.valid) {
        seen.hasAmpersand = text.find('&') != std::string_view::npos;
        seen.hasEscape = text.find('\x1B') != std::string_view::npos;
        seen.hasHigh = std::any_of(p, p + text.size(), [](unsigned char b) { return b >= 0x80; });
    }
    return seen;
}

} // namespace quillon::utf8Check
