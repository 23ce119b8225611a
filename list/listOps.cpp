#include "list/listOps.h"

#include "app/atFields.h"
#include "list/textCompare.h"

#include <algorithm>
#include <bit>
#include <functional>
#include <limits>
#include <string_view>
#include <utility>

namespace quillon::listOps {

namespace {

// Rows between two yields (and between two stop tests where a row-wise loop
// tests one).
constexpr std::size_t kYieldEvery = 4096;

// The text of a cell; a column outside 0 to 2 reads as empty, like a cell the
// list box does not have.
std::string_view cellText(const AddressRow& row, int column) {
    return row.cell(column);
}

std::size_t hashKey(std::string_view key) {
    return std::hash<std::string_view>{}(key);
}

// The case-folded keys of many texts, kept end to end in one buffer.
class FoldedKeys {
public:
    void reserve(std::size_t count, std::size_t bytes) {
        m_ends.reserve(count);
        m_text.reserve(bytes);
    }
    void add(std::string_view text) {
        foldCaseAppend(text, m_text);
        m_ends.push_back(m_text.size());
    }
    std::string_view operator[](std::size_t i) const {
        const std::size_t begin = i == 0 ? 0 : m_ends[i - 1];
        return std::string_view(m_text).substr(begin, m_ends[i] - begin);
    }
    std::size_t size() const { return m_ends.size(); }

private:
    std::string m_text;
    std::vector<std::size_t> m_ends;
};

// An open-addressing set of keys of a FoldedKeys, each stored as its index
// there: finds the first index with a key equal to a given one.
class KeyIndex {
public:
    explicit KeyIndex(const FoldedKeys& keys) : m_keys(keys) {
        const std::size_t slots = std::bit_ceil(std::max<std::size_t>(16, keys.size() * 2));
        m_slots.assign(slots, kEmpty);
        m_mask = slots - 1;
    }
    // Asks the processor to fetch the slot a key of this hash starts at.
    void prefetch(std::size_t hash) const { __builtin_prefetch(&m_slots[hash & m_mask]); }
    // The index of the first key equal to keys[i] (whose hash is `hash`),
    // inserting i when there is none.
    std::uint32_t findOrInsert(std::uint32_t i, std::size_t hash) {
        const std::string_view key = m_keys[i];
        const std::uint64_t tag = tagOf(hash);
        for (std::size_t s = hash & m_mask;; s = (s + 1) & m_mask) {
            const std::uint64_t slot = m_slots[s];
            if (slot == kEmpty) {
                m_slots[s] = tag | i;
                return i;
            }
            if ((slot & kTagMask) == tag && m_keys[indexOf(slot)] == key) {
                return indexOf(slot);
            }
        }
    }
    bool contains(std::string_view key) const {
        const std::size_t hash = hashKey(key);
        const std::uint64_t tag = tagOf(hash);
        for (std::size_t s = hash & m_mask;; s = (s + 1) & m_mask) {
            const std::uint64_t slot = m_slots[s];
            if (slot == kEmpty) {
                return false;
            }
            if ((slot & kTagMask) == tag && m_keys[indexOf(slot)] == key) {
                return true;
            }
        }
    }

private:
    // A slot holds the key's index in its low half and the high half of its
    // hash in its high half, so that most keys that differ are told apart
    // without reading them.
    static constexpr std::uint64_t kEmpty = ~std::uint64_t{0};
    static constexpr std::uint64_t kTagMask = 0xFFFFFFFF00000000ULL;
    static std::uint64_t tagOf(std::size_t hash) { return static_cast<std::uint64_t>(hash) & kTagMask; }
    static std::uint32_t indexOf(std::uint64_t slot) { return static_cast<std::uint32_t>(slot); }

    const FoldedKeys& m_keys;
    std::vector<std::uint64_t> m_slots;
    std::size_t m_mask = 0;
};

// Moves the rows for which keep(index) is true to the front, in order, and
// drops the rest: one pass, whatever the number of removed rows.
template <typename Keep> void compact(RowList& rows, Keep keep, const JobContext& ctx) {
    std::size_t out = 0;
    for (std::size_t r = 0; r < rows.size(); ++r) {
        if (keep(r)) {
            if (out != r) {
                rows[out] = std::move(rows[r]);
            }
            ++out;
        }
        if ((r + 1) % kYieldEvery == 0) {
            ctx.yieldNow();
        }
    }
    rows.resize(out);
}

// Counts characters of a UTF-8 text (every byte that is not a continuation byte).
std::size_t charCount(std::string_view text) {
    return static_cast<std::size_t>(std::count_if(
        text.begin(), text.end(), [](char c) { return (static_cast<unsigned char>(c) & 0xC0U) != 0x80U; }));
}

// The last `count` characters of a text (the whole text when it is shorter).
std::string_view lastChars(std::string_view text, std::size_t count) {
    std::size_t pos = text.size();
    while (count > 0 && pos > 0) {
        --pos;
        if ((static_cast<unsigned char>(text[pos]) & 0xC0U) != 0x80U) {
            --count;
        }
    }
    return text.substr(pos);
}

// The rows grouped by equal folded key. Group ids follow the order of first
// occurrence.
struct Groups {
    std::vector<std::uint32_t> groupOf;    // by row
    std::vector<std::uint32_t> groupSize;  // by group
    std::vector<std::uint32_t> groupFirst; // by group: the index of its first row
};

// The hash of a text's folded form; the folded text is not kept.
class FoldedHash {
public:
    std::size_t operator()(std::string_view text) {
        m_folded.clear();
        foldCaseAppend(text, m_folded);
        return hashKey(m_folded);
    }

private:
    std::string m_folded;
};

// Groups the rows by their text in `column`, ignoring case, in one pass over
// the rows: each row's folded hash is computed once, and the table holds row
// indices with part of their hash, so rows are read again only when their
// hashes agree (true duplicates, mostly).
Groups groupRows(const RowList& rows, int column, const JobContext& ctx) {
    const std::size_t n = rows.size();
    Groups groups{std::vector<std::uint32_t>(n), {}, {}};
    const std::size_t slotCount = std::bit_ceil(std::max<std::size_t>(16, n + n / 2));
    std::vector<std::uint64_t> slots(slotCount, ~std::uint64_t{0});
    const std::size_t mask = slotCount - 1;
    constexpr std::uint64_t kEmpty = ~std::uint64_t{0};
    constexpr std::uint64_t kTagMask = 0xFFFFFFFF00000000ULL;

    // Hashes run kAhead rows ahead of their use, so that their slots are
    // fetched while earlier rows are placed.
    constexpr std::size_t kAhead = 16;
    std::size_t ahead[kAhead];
    FoldedHash hash;
    for (std::size_t r = 0; r < std::min(n, kAhead); ++r) {
        ahead[r] = hash(rows[r].cell(column));
        __builtin_prefetch(&slots[ahead[r] & mask]);
    }
    for (std::uint32_t r = 0; r < n; ++r) {
        const std::size_t h = ahead[r % kAhead];
        if (r + kAhead < n) {
            const std::size_t next = hash(rows[r + kAhead].cell(column));
            ahead[r % kAhead] = next;
            __builtin_prefetch(&slots[next & mask]);
        }
        const std::uint64_t tag = static_cast<std::uint64_t>(h) & kTagMask;
        const std::string_view text = rows[r].cell(column);
        std::uint32_t first = r;
        for (std::size_t s = h & mask;; s = (s + 1) & mask) {
            const std::uint64_t slot = slots[s];
            if (slot == kEmpty) {
                slots[s] = tag | r;
                break;
            }
            const auto index = static_cast<std::uint32_t>(slot);
            if ((slot & kTagMask) == tag && equalsIgnoreCase(rows[index].cell(column), text)) {
                first = index;
                break;
            }
        }
        if (first == r) {
            groups.groupOf[r] = static_cast<std::uint32_t>(groups.groupSize.size());
            groups.groupSize.push_back(0);
            groups.groupFirst.push_back(r);
        } else {
            groups.groupOf[r] = groups.groupOf[first];
        }
        ++groups.groupSize[groups.groupOf[r]];
        if ((r + 1) % kYieldEvery == 0) {
            ctx.yieldNow();
        }
    }
    return groups;
}

// The first eight bytes of a key as a big-endian number (zero-padded), so
// that most comparisons of keys are one comparison of numbers.
std::uint64_t keyPrefix(std::string_view key) {
    std::uint64_t prefix = 0;
    for (std::size_t i = 0; i < 8; ++i) {
        prefix = (prefix << 8) | (i < key.size() ? static_cast<unsigned char>(key[i]) : 0U);
    }
    return prefix;
}

} // namespace

bool deleteByColumn(RowList& rows, int column, const JobContext& ctx) {
    const std::size_t n = rows.size();
    if (n < 2) {
        return false;
    }
    // Group the rows by folded text. Group ids follow the order of first
    // occurrence, which is the order in which the row-by-row algorithm takes
    // its survivors: its i-th step (1-based) handles group i - 1.
    const Groups groups = groupRows(rows, column, ctx);
    const auto& groupSize = groups.groupSize;

    // Replay the steps from the group sizes. Step i removes the later rows of
    // group i - 1 and leaves `count` rows; the loop runs a step only while at
    // least two rows lie from the step's row on (i <= count - 2, 0-based i).
    // A stop is seen after each step, as the row-by-row run sees it at the end
    // of a step.
    std::size_t count = n;
    std::size_t steps = 0;
    bool stopped = false;
    while (steps + 2 <= count) {
        count -= groupSize[steps] - 1;
        ++steps;
        ctx.report(static_cast<std::int64_t>(count), static_cast<std::int64_t>(steps));
        if (steps % kYieldEvery == 0) {
            ctx.yieldNow();
        }
        if (ctx.stopRequested()) {
            stopped = true;
            break;
        }
    }

    // Groups 0 .. steps - 1 keep only their first row; later groups keep all.
    compact(
        rows,
        [&](std::size_t r) {
            const std::uint32_t g = groups.groupOf[r];
            return g >= steps || groups.groupFirst[g] == r;
        },
        ctx);
    return stopped;
}

void sortByColumn(RowList& rows, int column, const JobContext& ctx) {
    const std::size_t n = rows.size();
    if (n < 2) {
        return;
    }
    // The list's own order is left open; ours compares the folded texts (so
    // letter case is ignored) and is stable: rows with equal texts keep their
    // order. The distinct texts are sorted once, then the rows are placed by
    // the rank of their text with a counting sort, which keeps ties in order.
    const Groups groups = groupRows(rows, column, ctx);
    const std::size_t groupCount = groups.groupSize.size();
    // The folded text of each group once (by group id).
    FoldedKeys keys;
    for (std::uint32_t g = 0; g < groupCount; ++g) {
        keys.add(rows[groups.groupFirst[g]].cell(column));
    }
    std::vector<std::pair<std::uint64_t, std::uint32_t>> distinct(groupCount);
    for (std::uint32_t g = 0; g < groupCount; ++g) {
        distinct[g] = {keyPrefix(keys[g]), g};
    }
    std::sort(distinct.begin(), distinct.end(), [&](const auto& a, const auto& b) {
        if (a.first != b.first) {
            return a.first < b.first;
        }
        return keys[a.second] < keys[b.second];
    });
    ctx.yieldNow();
    // start[g]: where the rows of group g begin in the sorted list.
    std::vector<std::uint32_t> start(groupCount);
    std::uint32_t next = 0;
    for (const auto& entry : distinct) {
        start[entry.second] = next;
        next += groups.groupSize[entry.second];
    }
    if (groupCount * RowList::kSegmentRows * 4 <= n) {
        // Few distinct texts (a list sorted by its domains, mostly): each row
        // read in order goes to the next place of its group, so the writes
        // run along a few streams instead of one random access per row.
        rows.reorder([&](std::size_t r) {
            if ((r + 1) % kYieldEvery == 0) {
                ctx.yieldNow();
            }
            return start[groups.groupOf[r]]++;
        });
        return;
    }
    std::vector<std::uint32_t> order(n);
    for (std::uint32_t r = 0; r < n; ++r) {
        order[start[groups.groupOf[r]]++] = r;
    }
    ctx.yieldNow();
    // Apply the order in place, one cycle of the permutation at a time
    // (order[k] is the row that belongs at k; a done position is marked by
    // pointing it at itself).
    constexpr auto kDone = std::numeric_limits<std::uint32_t>::max();
    for (std::uint32_t k = 0; k < n; ++k) {
        if (order[k] == k || order[k] == kDone) {
            continue;
        }
        AddressRow held = std::move(rows[k]);
        std::uint32_t at = k;
        while (order[at] != k) {
            const std::uint32_t from = order[at];
            rows[at] = std::move(rows[from]);
            order[at] = kDone;
            at = from;
        }
        rows[at] = std::move(held);
        order[at] = kDone;
        if ((k + 1) % kYieldEvery == 0) {
            ctx.yieldNow();
        }
    }
}

bool filterKey(std::string_view text, int mode, std::string_view& key) {
    switch (mode) {
    case 1:
        key = text;
        return true;
    case 2:
        key = atField(text, 1);
        return true;
    case 3:
        key = atField(text, 2);
        return true;
    default:
        return false;
    }
}

namespace {

// What a filter match does: check the row's box, or remove the row.
template <typename Matches> void applyFilter(RowList& rows, bool markInstead, Matches& matches, const JobContext& ctx) {
    if (markInstead) {
        for (std::size_t r = 0; r < rows.size(); ++r) {
            if (matches(rows[r])) {
                rows[r].checked = true;
            }
            if ((r + 1) % kYieldEvery == 0) {
                ctx.yieldNow();
            }
        }
    } else {
        compact(
            rows, [&](std::size_t r) { return !matches(rows[r]); }, ctx);
    }
}

} // namespace

void checkByAddress(RowList& rows, std::string_view entry, int column, int mode, bool markInstead,
                    const JobContext& ctx) {
    auto matches = [&](const AddressRow& row) {
        std::string_view key;
        return filterKey(cellText(row, column), mode, key) && equalsIgnoreCase(key, entry);
    };
    applyFilter(rows, markInstead, matches, ctx);
}

void checkByAddresses(RowList& rows, const std::vector<std::string>& filterArray, int column, int mode,
                      bool markInstead, const JobContext& ctx) {
    std::string_view probe;
    if (filterArray.size() < 2 || rows.empty() || !filterKey({}, mode, probe)) {
        return;
    }
    FoldedKeys entries;
    for (std::size_t i = 1; i < filterArray.size(); ++i) {
        entries.add(filterArray[i]);
    }
    KeyIndex index(entries);
    for (std::uint32_t i = 0; i < entries.size(); ++i) {
        index.findOrInsert(i, hashKey(entries[i]));
    }

    std::string folded;
    auto matches = [&](const AddressRow& row) {
        std::string_view key;
        filterKey(cellText(row, column), mode, key);
        folded.clear();
        foldCaseAppend(key, folded);
        return index.contains(folded);
    };
    applyFilter(rows, markInstead, matches, ctx);
}

const std::vector<std::string>& correctAddDefaults() {
    static const std::vector<std::string> endings{"",   "jp", "com", "net", "org",  "fm",
                                                  "cc", "cx", "to",  "tv",  "info", "name"};
    return endings;
}

bool domainPasses(std::string_view domain, const std::vector<std::string>& correctAdd) {
    // The first "." must stand at character 2 or later: byte 0 is always a
    // whole first character.
    const std::size_t dot = domain.find('.');
    if (dot == std::string_view::npos || dot == 0) {
        return false;
    }
    for (std::size_t e = 1; e < correctAdd.size(); ++e) {
        const std::string_view ending = correctAdd[e];
        if (equalsIgnoreCase(lastChars(domain, charCount(ending)), ending)) {
            return true;
        }
    }
    return false;
}

void checkAddress(RowList& rows, const std::vector<std::string>& correctAdd, bool isHighLight, const JobContext& ctx) {
    // Both passes of the row-by-row check in one: every row ends selected and
    // marked with isHighLight unless its domain passes, which clears both.
    for (std::size_t r = 0; r < rows.size(); ++r) {
        const bool suspicious = !domainPasses(cellText(rows[r], 2), correctAdd);
        rows[r].selected = suspicious;
        rows[r].checked = suspicious && isHighLight;
        if ((r + 1) % kYieldEvery == 0) {
            ctx.yieldNow();
        }
    }
}

void deleteChecks(RowList& rows, const JobContext& ctx) {
    compact(
        rows, [&rows](std::size_t r) { return !rows[r].checked; }, ctx);
}

} // namespace quillon::listOps
