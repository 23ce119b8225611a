#include "extract/encodingVerdict.h"

#include "app/utf8Check.h"
#include "extract/convModule.h"

#include <algorithm>
#include <bit>
#include <utility>
#include <vector>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace quillon::encodingVerdict {

namespace {

// How much of the text uchardet sees when it has to break a tie.
constexpr std::size_t kSampleSize = std::size_t{64} << 10;
// A reading is given up only after this many faults: short texts are judged
// on all their counts.
constexpr std::size_t kGiveUpFaults = 32;
// The readings are weighed again after every so many 8-bit bytes.
constexpr std::size_t kPruneEvery = 1024;

// Which one and two byte sequences read as one character, as the converters
// read them.
struct CharTables {
    std::array<bool, 256> sjisSingle{};
    std::vector<bool> sjisPair; // index (first - 0x80) << 8 | second
    std::vector<bool> eucPair;

    CharTables() : sjisPair(128 * 256), eucPair(128 * 256) {
        for (int b = 0x80; b < 256; ++b) {
            const char one = static_cast<char>(b);
            sjisSingle[static_cast<std::size_t>(b)] = convModule::readsAsOneCharacter(Encoding::ShiftJIS, {&one, 1});
            for (int c = 0; c < 256; ++c) {
                const char two[2] = {static_cast<char>(b), static_cast<char>(c)};
                const auto at = static_cast<std::size_t>((b - 0x80) << 8 | c);
                sjisPair[at] = convModule::readsAsOneCharacter(Encoding::ShiftJIS, {two, 2});
                eucPair[at] = convModule::readsAsOneCharacter(Encoding::EucJP, {two, 2});
            }
        }
    }
};

const CharTables& tables() {
    static const CharTables t;
    return t;
}

std::size_t pairIndex(unsigned char b0, unsigned char b1) {
    return static_cast<std::size_t>((b0 - 0x80) << 8 | b1);
}

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#define QUILLON_VERDICT_AVX2 1
#include <immintrin.h>

// nextOfInterest over 64 bytes a step, where the processor has AVX2.
// The high bit of each of the 32 bytes at p marks a byte of interest.
__attribute__((target("avx2"))) inline __m256i interest(const unsigned char* p, bool high) {
    const __m256i v = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p));
    const __m256i m =
        _mm256_or_si256(_mm256_cmpeq_epi8(v, _mm256_set1_epi8(0x1B)), _mm256_cmpeq_epi8(v, _mm256_setzero_si256()));
    return high ? _mm256_or_si256(m, v) : m;
}

__attribute__((target("avx2"))) std::size_t nextOfInterestAvx2(const unsigned char* p, std::size_t n, std::size_t i,
                                                               bool high) {
    // 128 bytes a step with one test; the step with a hit is looked into.
    while (i + 128 <= n) {
        const __m256i any = _mm256_or_si256(_mm256_or_si256(interest(p + i, high), interest(p + i + 32, high)),
                                            _mm256_or_si256(interest(p + i + 64, high), interest(p + i + 96, high)));
        if (_mm256_movemask_epi8(any) != 0) {
            break;
        }
        i += 128;
    }
    while (i + 32 <= n) {
        const auto m = static_cast<std::uint32_t>(_mm256_movemask_epi8(interest(p + i, high)));
        if (m != 0) {
            return i + static_cast<std::size_t>(std::countr_zero(m));
        }
        i += 32;
    }
    return i;
}
#endif

// The first byte at or after i that is an escape, a NUL or (with `high`) 0x80
// or above; n when there is none.
std::size_t nextOfInterest(const unsigned char* p, std::size_t n, std::size_t i, bool high) {
#if defined(QUILLON_VERDICT_AVX2)
    if (utf8Check::avx2Available()) {
        i = nextOfInterestAvx2(p, n, i, high);
        if (i + 32 <= n) {
            return i;
        }
    }
#endif
#if defined(__SSE2__)
    const __m128i esc = _mm_set1_epi8(0x1B);
    const __m128i zero = _mm_setzero_si128();
    while (i + 16 <= n) {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + i));
        int m = _mm_movemask_epi8(_mm_or_si128(_mm_cmpeq_epi8(v, esc), _mm_cmpeq_epi8(v, zero)));
        if (high) {
            m |= _mm_movemask_epi8(v);
        }
        if (m != 0) {
            return i + static_cast<std::size_t>(std::countr_zero(static_cast<unsigned>(m)));
        }
        i += 16;
    }
#endif
    while (i < n && p[i] != 0x1B && p[i] != 0 && !(high && p[i] >= 0x80)) {
        ++i;
    }
    return i;
}

} // namespace

bool Verdict::fits(Encoding used) const {
    switch (kind) {
    case Kind::Ascii:
        return true;
    case Kind::Binary:
        return false;
    case Kind::Text:
        break;
    }
    return used == likely;
}

Encoding Verdict::guess() const {
    return kind == Kind::Text ? likely : Encoding::UTF8;
}

Evidence::Evidence() {
    m_state.fill(State::Following);
    m_nextPrune = kPruneEvery;
}

std::size_t Evidence::faults(Candidate c) const {
    return c == Iso ? m_faults[Iso] + m_high : m_faults[c] + m_escapes;
}

bool Evidence::settled() const {
    return std::any_of(m_state.begin(), m_state.end(), [](State s) { return s == State::Decided; }) ||
           std::all_of(m_state.begin(), m_state.end(), [](State s) { return s == State::GivenUp; });
}

void Evidence::feedValidUtf8(std::size_t size, bool hasHigh) {
    m_total += size;
    if (!hasHigh || settled()) {
        return;
    }
    // Shift_JIS, EUC-JP or ISO-2022-JP text of any length is hardly ever
    // valid UTF-8 with 8-bit bytes.
    m_utf8Multibyte = true;
    ++m_high;
    m_state.fill(State::GivenUp);
    m_state[Utf8] = State::Decided;
}

void Evidence::feed(std::string_view piece) {
    m_total += piece.size();
    if (settled()) {
        return; // nothing further can change the verdict
    }
    const auto* p = reinterpret_cast<const unsigned char*>(piece.data());
    const std::size_t n = piece.size();
    m_sjisAt = 0;
    m_eucAt = 0;
    bool sawHigh = false;
    std::size_t i = m_carry.empty() ? 0 : finishEscape(piece);
    while (true) {
        // 8-bit bytes matter only while a reading is followed.
        const bool wantHigh =
            std::any_of(m_state.begin(), m_state.end(), [](State s) { return s == State::Following; });
        i = nextOfInterest(p, n, i, wantHigh);
        if (i >= n) {
            break;
        }
        if (p[i] == 0) {
            ++m_nul;
            ++i;
        } else if (p[i] == 0x1B) {
            i = readEscape(p, n, i);
        } else {
            if (!sawHigh) {
                sawHigh = true;
                keepSample(piece, i);
                readUtf8(piece.substr(i));
            }
            std::size_t end = i;
            while (end < n && p[end] >= 0x80) {
                ++end;
            }
            m_high += end - i;
            readHigh(p, n, i);
            i = end;
            if (m_high >= m_nextPrune) {
                m_nextPrune = m_high + kPruneEvery;
                // The UTF-8 reading has seen the whole piece already.
                prune(m_state[Utf8] != State::Following);
            }
        }
    }
    prune(true);
}

// Counts the invalid UTF-8 sequences of the rest of a piece, from its first
// 8-bit byte, with the vector check between them. Text in another encoding
// has them every few bytes: the reading is given up after a few dozen.
void Evidence::readUtf8(std::string_view rest) {
    if (m_state[Utf8] != State::Following) {
        return;
    }
    const std::size_t size = rest.size();
    const std::size_t faultsBefore = m_faults[Utf8];
    while (!rest.empty()) {
        const std::size_t at = utf8Check::firstInvalid(rest);
        if (at == rest.size()) {
            break;
        }
        if (at > 0 && m_faults[Utf8] == faultsBefore) {
            m_utf8Multibyte = true; // the first 8-bit byte began a valid character
        }
        std::size_t bad = 0;
        utf8Check::sequence(reinterpret_cast<const unsigned char*>(rest.data()) + at, rest.size() - at, bad);
        ++m_faults[Utf8];
        rest.remove_prefix(at + bad);
        if (m_faults[Utf8] >= kGiveUpFaults && m_faults[Utf8] * 64 >= size - rest.size()) {
            m_state[Utf8] = State::GivenUp;
            return;
        }
    }
    if (m_faults[Utf8] == faultsBefore) {
        m_utf8Multibyte = true;
    }
}

void Evidence::readHigh(const unsigned char* p, std::size_t n, std::size_t i) {
    if (m_state[Sjis] == State::Following && m_sjisAt <= i) {
        m_sjisAt = readSjis(p, n, i);
    }
    if (m_state[Euc] == State::Following && m_eucAt <= i) {
        m_eucAt = readEuc(p, n, i);
    }
}

// Reads Shift_JIS characters from i up to the first ASCII byte that begins a
// character; returns where that is. An invalid sequence is skipped the way
// the converter skips it: a lead byte takes an 8-bit second byte with it,
// never an ASCII one.
std::size_t Evidence::readSjis(const unsigned char* p, std::size_t n, std::size_t i) {
    const CharTables& t = tables();
    std::size_t k = i;
    while (k < n && p[k] >= 0x80) {
        const unsigned char b0 = p[k];
        if (t.sjisSingle[b0]) {
            ++m_sjisOdd;
            ++k;
        } else if (k + 1 < n && t.sjisPair[pairIndex(b0, p[k + 1])]) {
            ++(b0 >= 0xF0 ? m_sjisOdd : m_sjisPairs);
            k += 2;
        } else {
            ++m_faults[Sjis];
            const bool lead = (b0 >= 0x81 && b0 <= 0x9F) || (b0 >= 0xE0 && b0 <= 0xFC);
            k += lead && k + 1 < n && p[k + 1] >= 0x80 && p[k + 1] <= 0xFC ? 2 : 1;
        }
    }
    return k;
}

// As readSjis, for EUC-JP: two bytes 0xA1 to 0xFE, 0x8E and a half-width
// katakana, or 0x8F and two bytes for JIS X 0212.
std::size_t Evidence::readEuc(const unsigned char* p, std::size_t n, std::size_t i) {
    const CharTables& t = tables();
    const auto high = [](unsigned char b) { return b >= 0xA1 && b <= 0xFE; };
    std::size_t k = i;
    while (k < n && p[k] >= 0x80) {
        const unsigned char b0 = p[k];
        if (b0 == 0x8F) {
            if (k + 2 < n && high(p[k + 1]) && high(p[k + 2])) {
                k += 3;
            } else {
                ++m_faults[Euc];
                ++k;
            }
        } else if (k + 1 < n && t.eucPair[pairIndex(b0, p[k + 1])]) {
            k += 2;
        } else {
            ++m_faults[Euc];
            k += (b0 == 0x8E || high(b0)) && k + 1 < n && high(p[k + 1]) ? 2 : 1;
        }
    }
    return k;
}

// The escape sequences that ISO-2022-JP text uses to switch between ASCII,
// JIS X 0201 and the Japanese double-byte sets. Read as any other encoding
// their letters ("$B", "(B") stay in the text and join a word or an address.
std::size_t Evidence::readEscape(const unsigned char* p, std::size_t n, std::size_t i) {
    static constexpr std::string_view kSequences[] = {"(B",  "(J",  "(H",  "(I",  "$@",  "$B", "&@\x1B$B",
                                                      "$(B", "$(D", "$(O", "$(Q", "$(P", "$A", "$(C"};
    const std::string_view rest(reinterpret_cast<const char*>(p) + i + 1, n - i - 1);
    for (const std::string_view seq : kSequences) {
        if (rest.starts_with(seq)) {
            ++m_escapes;
            return i + 1 + seq.size();
        }
    }
    for (const std::string_view seq : kSequences) {
        if (rest.size() < seq.size() && seq.starts_with(rest)) {
            // Cut off by the end of the piece: read on with the next one.
            m_carry.assign(reinterpret_cast<const char*>(p) + i, n - i);
            return n;
        }
    }
    ++m_faults[Iso]; // an escape that ISO-2022-JP does not know
    return i + 1;
}

// An escape sequence cut off by the end of the last piece, completed with the
// first bytes of this one; returns how many of those it took.
std::size_t Evidence::finishEscape(std::string_view piece) {
    std::string joined = std::exchange(m_carry, {});
    const std::size_t held = joined.size();
    joined.append(piece.substr(0, 8));
    const std::size_t end = readEscape(reinterpret_cast<const unsigned char*>(joined.data()), joined.size(), 0);
    if (!m_carry.empty()) {
        // Still cut off: the piece was shorter than the sequence.
        m_carry = joined;
        return piece.size();
    }
    return end > held ? end - held : 0;
}

void Evidence::keepSample(std::string_view piece, std::size_t firstHigh) {
    if (m_sample.size() >= kSampleSize) {
        return;
    }
    const std::size_t lineStart = piece.rfind('\n', firstHigh);
    const std::size_t from = lineStart == std::string_view::npos ? 0 : lineStart + 1;
    m_sample.append(piece.substr(from, kSampleSize - m_sample.size()));
}

// Gives up the readings that are plainly wrong: many faults for the 8-bit
// bytes read, or many faults and far more than another reading has. A
// Shift_JIS reading made mostly of half-width katakana and user-defined
// characters beside a faultless EUC-JP reading is EUC-JP text. When one
// reading is left (weighed at the end of a piece, when every reading has seen
// it), it is the verdict.
void Evidence::prune(bool decide) {
    for (int c = 0; c < kCandidates; ++c) {
        if (m_state[c] != State::Following) {
            continue;
        }
        const std::size_t f = faults(static_cast<Candidate>(c));
        if (f < kGiveUpFaults) {
            continue;
        }
        bool worse = f * 16 >= m_high;
        for (int d = 0; d < kCandidates && !worse; ++d) {
            worse = d != c && m_state[d] == State::Following && faults(static_cast<Candidate>(d)) * 4 + 8 <= f;
        }
        if (worse) {
            m_state[c] = State::GivenUp;
        }
    }
    if (m_state[Sjis] == State::Following && m_state[Euc] == State::Following && faults(Euc) == 0 &&
        m_sjisOdd >= kPruneEvery && m_sjisOdd * 4 >= (m_sjisOdd + m_sjisPairs) * 3) {
        m_state[Sjis] = State::GivenUp;
    }
    const auto following = std::count(m_state.begin(), m_state.end(), State::Following);
    if (decide && following == 1) {
        *std::find(m_state.begin(), m_state.end(), State::Following) = State::Decided;
    }
}

Encoding Evidence::tieBreak() const {
    if (const Encoding named = convModule::uchardetJapanese(m_sample); named != Encoding::None) {
        return named;
    }
    // Japanese read as Shift_JIS is mostly two-byte characters; EUC-JP read
    // as Shift_JIS is mostly half-width katakana and user-defined characters.
    return m_sjisOdd > m_sjisPairs ? Encoding::EucJP : Encoding::ShiftJIS;
}

Verdict Evidence::verdict() const {
    if (!m_carry.empty()) {
        // The text ends inside an escape sequence.
        Evidence ended = *this;
        ended.m_carry.clear();
        ++ended.m_faults[Iso];
        return ended.verdict();
    }
    Verdict v;
    if (m_nul > 0 && m_nul * 100 >= m_total) {
        v.kind = Verdict::Kind::Binary;
        return v;
    }
    if (m_high == 0) {
        if (m_escapes > 0) {
            v.kind = Verdict::Kind::Text;
            v.likely = Encoding::ISO2022JP;
        }
        return v;
    }
    if (std::all_of(m_state.begin(), m_state.end(), [](State s) { return s == State::GivenUp; })) {
        v.kind = Verdict::Kind::Binary;
        return v;
    }
    // The best reading: not given up, then the fewest faults.
    const auto key = [&](int c) {
        return std::pair(m_state[c] == State::GivenUp ? 1 : 0, faults(static_cast<Candidate>(c)));
    };
    auto best = key(Utf8);
    for (int c = 1; c < kCandidates; ++c) {
        best = std::min(best, key(c));
    }
    if (best.second >= 8 && best.second * 4 >= m_high) {
        v.kind = Verdict::Kind::Binary; // even the best reading is mostly faults
        return v;
    }
    v.kind = Verdict::Kind::Text;
    // Ties: valid UTF-8 with 8-bit characters is hardly ever anything else;
    // escape sequences say ISO-2022-JP; between Shift_JIS and EUC-JP the
    // tie-breaker decides.
    if (key(Utf8) == best && m_utf8Multibyte) {
        v.likely = Encoding::UTF8;
    } else if (key(Iso) == best && m_escapes > 0) {
        v.likely = Encoding::ISO2022JP;
    } else if (key(Sjis) == best && key(Euc) == best) {
        v.likely = tieBreak();
    } else if (key(Sjis) == best) {
        v.likely = Encoding::ShiftJIS;
    } else if (key(Euc) == best) {
        v.likely = Encoding::EucJP;
    } else if (key(Utf8) == best) {
        v.likely = Encoding::UTF8;
    } else {
        v.likely = Encoding::ISO2022JP;
    }
    return v;
}

std::size_t pieceCut(std::string_view bytes) {
    for (std::size_t i = bytes.size(); i > 0; --i) {
        if (static_cast<unsigned char>(bytes[i - 1]) <= 0x20) {
            return i;
        }
    }
    return 0;
}

Verdict judge(std::string_view bytes) {
    Evidence evidence;
    constexpr std::size_t kPiece = std::size_t{1} << 20;
    for (std::size_t from = 0; from < bytes.size();) {
        const std::size_t end = convModule::PieceConverter::pieceEnd(bytes, from, kPiece);
        evidence.feed(bytes.substr(from, end - from));
        from = end;
    }
    return evidence.verdict();
}

} // namespace quillon::encodingVerdict
