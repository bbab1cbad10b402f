#include "core/store/PartnerSet.h"

#include "core/store/Item.h"

#include <algorithm>
#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <new>

namespace {

constexpr std::uint32_t kSmallMax = 256;   // past this, a chunked array
constexpr std::uint32_t kChunkCap = 256;   // a full chunk splits in halves
constexpr std::uint32_t kChunkedMin = 64;  // below this, back to a small array

// A single partner is the bare item pointer, tag 0: items must leave the tag
// bits zero. Small arrays come from malloc, chunked arrays from new.
static_assert(alignof(Item) > 3 && alignof(std::max_align_t) > 3, "the partner set's tag needs the low two bits free");
// The small array's count must fit the bits above the address.
static_assert(kSmallMax < (std::uint64_t(1) << (64 - PackedPointer::kAddressBits)), "small count overflows its bits");

bool Less(const Item* ip_a, const Item* ip_b)
{
    return std::less<const Item*>()(ip_a, ip_b);
}

}  // namespace

namespace {

// A small array's capacity follows from its count alone: the next power of
// two, at least 4. The array is reallocated whenever that changes.
std::uint32_t SmallCapacity(std::uint32_t i_count)
{
    std::uint32_t l_capacity = 4;
    while (l_capacity < i_count)
        l_capacity *= 2;
    return l_capacity;
}

Item** ResizeSmall(Item** ip_items, std::uint32_t i_capacity)
{
    void* lp_memory = std::realloc(ip_items, sizeof(Item*) * i_capacity);
    if (!lp_memory)
        throw std::bad_alloc();
    return static_cast<Item**>(lp_memory);
}

}  // namespace

void PartnerSet::SetSmall(Item** ip_items, std::uint32_t i_count)
{
    m_bits = PackedPointer::PackedAddress(ip_items, TagMask, "PartnerSet") | SmallTag |
             (std::uintptr_t(i_count) << kCountShift);
}

struct PartnerSet::ChunkedArray
{
    struct Chunk
    {
        std::uint32_t m_count = 0;
        Item* m_items[kChunkCap];
        Item* Last() const { return m_items[m_count - 1]; }
    };

    std::size_t m_count = 0;
    std::vector<Chunk*> m_chunks;
    // The last item of each chunk, side by side, so that finding a chunk
    // reads one array instead of one chunk per step.
    std::vector<Item*> m_lasts;

    ~ChunkedArray()
    {
        for (auto* lp_chunk : m_chunks)
            delete lp_chunk;
    }

    // The chunk that holds or would hold the item.
    std::size_t ChunkFor(const Item* ip_item) const
    {
        auto l_it = std::lower_bound(m_lasts.begin(), m_lasts.end(), ip_item, Less);
        if (l_it == m_lasts.end())
            return m_lasts.size() - 1;
        return std::size_t(l_it - m_lasts.begin());
    }
};

std::size_t PartnerSet::Size() const
{
    switch (GetTag()) {
    case SingleTag:
        return m_bits ? 1 : 0;
    case SmallTag:
        return SmallCount();
    default:
        return Chunked()->m_count;
    }
}

void PartnerSet::SetChunked(ChunkedArray* ip_array)
{
    static_assert(alignof(ChunkedArray) > TagMask);
    m_bits = PackedPointer::PackedAddress(ip_array, TagMask, "PartnerSet") | ChunkedTag;
}

Item* PartnerSet::First() const
{
    switch (GetTag()) {
    case SingleTag:
        return reinterpret_cast<Item*>(m_bits);
    case SmallTag:
        return Small()[0];
    default:
        return Chunked()->m_chunks.front()->m_items[0];
    }
}

bool PartnerSet::Contains(const Item* ip_item) const
{
    switch (GetTag()) {
    case SingleTag:
        return m_bits && reinterpret_cast<const Item*>(m_bits) == ip_item;
    case SmallTag: {
        Item** lp_begin = Small();
        Item** lp_end = lp_begin + SmallCount();
        if (Less(lp_end[-1], ip_item))
            return false;
        Item** lp_at = std::lower_bound(lp_begin, lp_end, ip_item, Less);
        return lp_at != lp_end && *lp_at == ip_item;
    }
    default: {
        const ChunkedArray* lp_array = Chunked();
        if (Less(lp_array->m_lasts.back(), ip_item))
            return false;
        const auto* lp_chunk = lp_array->m_chunks[lp_array->ChunkFor(ip_item)];
        Item* const* lp_end = lp_chunk->m_items + lp_chunk->m_count;
        Item* const* lp_at = std::lower_bound(lp_chunk->m_items, lp_end, ip_item, Less);
        return lp_at != lp_end && *lp_at == ip_item;
    }
    }
}

bool PartnerSet::Insert(Item* ip_item)
{
    switch (GetTag()) {
    case SingleTag: {
        if (!m_bits) {
            SetSingle(ip_item);
            return true;
        }
        Item* lp_other = reinterpret_cast<Item*>(m_bits);
        if (lp_other == ip_item)
            return false;
        Item** lp_items = ResizeSmall(nullptr, SmallCapacity(2));
        lp_items[0] = Less(lp_other, ip_item) ? lp_other : ip_item;
        lp_items[1] = Less(lp_other, ip_item) ? ip_item : lp_other;
        SetSmall(lp_items, 2);
        return true;
    }
    case SmallTag: {
        Item** lp_items = Small();
        const std::uint32_t l_count = SmallCount();
        // New items mostly come from fresh memory at higher addresses: check
        // the end first, so that a cold array costs one cache line.
        Item** lp_end = lp_items + l_count;
        Item** lp_at = Less(lp_end[-1], ip_item) ? lp_end : std::lower_bound(lp_items, lp_end, ip_item, Less);
        if (lp_at != lp_end && *lp_at == ip_item)
            return false;
        if (l_count == kSmallMax) {
            // Becomes a chunked array of two half-full chunks.
            auto* lp_chunked = new ChunkedArray;
            for (std::uint32_t l_part = 0; l_part < 2; ++l_part) {
                auto* lp_chunk = new ChunkedArray::Chunk;
                lp_chunk->m_count = kSmallMax / 2;
                std::memcpy(lp_chunk->m_items, lp_items + l_part * (kSmallMax / 2), sizeof(Item*) * (kSmallMax / 2));
                lp_chunked->m_chunks.push_back(lp_chunk);
                lp_chunked->m_lasts.push_back(lp_chunk->Last());
            }
            lp_chunked->m_count = kSmallMax;
            std::free(lp_items);
            SetChunked(lp_chunked);
            return Insert(ip_item);
        }
        const std::size_t l_position = std::size_t(lp_at - lp_items);
        if (SmallCapacity(l_count + 1) != SmallCapacity(l_count))
            lp_items = ResizeSmall(lp_items, SmallCapacity(l_count + 1));
        Item** lp_slot = lp_items + l_position;
        std::memmove(lp_slot + 1, lp_slot, sizeof(Item*) * (l_count - l_position));
        *lp_slot = ip_item;
        SetSmall(lp_items, l_count + 1);
        return true;
    }
    default: {
        ChunkedArray* lp_array = Chunked();
        const bool l_atEnd = Less(lp_array->m_lasts.back(), ip_item);
        std::size_t l_chunkIndex = l_atEnd ? lp_array->m_chunks.size() - 1 : lp_array->ChunkFor(ip_item);
        auto* lp_chunk = lp_array->m_chunks[l_chunkIndex];
        Item** lp_end = lp_chunk->m_items + lp_chunk->m_count;
        Item** lp_at = l_atEnd ? lp_end : std::lower_bound(lp_chunk->m_items, lp_end, ip_item, Less);
        if (lp_at != lp_end && *lp_at == ip_item)
            return false;
        std::size_t l_position = std::size_t(lp_at - lp_chunk->m_items);
        if (lp_chunk->m_count == kChunkCap) {
            auto* lp_upper = new ChunkedArray::Chunk;
            lp_upper->m_count = kChunkCap / 2;
            std::memcpy(lp_upper->m_items, lp_chunk->m_items + kChunkCap / 2, sizeof(Item*) * (kChunkCap / 2));
            lp_chunk->m_count = kChunkCap / 2;
            lp_array->m_chunks.insert(lp_array->m_chunks.begin() + std::ptrdiff_t(l_chunkIndex) + 1, lp_upper);
            lp_array->m_lasts.insert(lp_array->m_lasts.begin() + std::ptrdiff_t(l_chunkIndex) + 1, lp_upper->Last());
            lp_array->m_lasts[l_chunkIndex] = lp_chunk->Last();
            if (l_position > kChunkCap / 2) {
                lp_chunk = lp_upper;
                l_position -= kChunkCap / 2;
                ++l_chunkIndex;
            }
        }
        Item** lp_slot = lp_chunk->m_items + l_position;
        std::memmove(lp_slot + 1, lp_slot, sizeof(Item*) * (lp_chunk->m_count - l_position));
        *lp_slot = ip_item;
        ++lp_chunk->m_count;
        ++lp_array->m_count;
        lp_array->m_lasts[l_chunkIndex] = lp_chunk->Last();
        return true;
    }
    }
}

bool PartnerSet::Erase(Item* ip_item)
{
    switch (GetTag()) {
    case SingleTag:
        if (!m_bits || reinterpret_cast<Item*>(m_bits) != ip_item)
            return false;
        m_bits = 0;
        return true;
    case SmallTag: {
        Item** lp_items = Small();
        const std::uint32_t l_count = SmallCount();
        Item** lp_end = lp_items + l_count;
        Item** lp_at = std::lower_bound(lp_items, lp_end, ip_item, Less);
        if (lp_at == lp_end || *lp_at != ip_item)
            return false;
        std::memmove(lp_at, lp_at + 1, sizeof(Item*) * std::size_t(lp_end - lp_at - 1));
        if (l_count - 1 == 1) {
            Item* lp_last = lp_items[0];
            std::free(lp_items);
            SetSingle(lp_last);
            return true;
        }
        if (SmallCapacity(l_count - 1) != SmallCapacity(l_count))
            lp_items = ResizeSmall(lp_items, SmallCapacity(l_count - 1));
        SetSmall(lp_items, l_count - 1);
        return true;
    }
    default: {
        ChunkedArray* lp_array = Chunked();
        const std::size_t l_chunkIndex = lp_array->ChunkFor(ip_item);
        auto* lp_chunk = lp_array->m_chunks[l_chunkIndex];
        Item** lp_end = lp_chunk->m_items + lp_chunk->m_count;
        Item** lp_at = std::lower_bound(lp_chunk->m_items, lp_end, ip_item, Less);
        if (lp_at == lp_end || *lp_at != ip_item)
            return false;
        std::memmove(lp_at, lp_at + 1, sizeof(Item*) * std::size_t(lp_end - lp_at - 1));
        --lp_chunk->m_count;
        --lp_array->m_count;
        if (lp_chunk->m_count == 0) {
            delete lp_chunk;
            lp_array->m_chunks.erase(lp_array->m_chunks.begin() + std::ptrdiff_t(l_chunkIndex));
            lp_array->m_lasts.erase(lp_array->m_lasts.begin() + std::ptrdiff_t(l_chunkIndex));
        } else {
            lp_array->m_lasts[l_chunkIndex] = lp_chunk->Last();
        }
        if (lp_array->m_count < kChunkedMin) {
            const auto l_count = std::uint32_t(lp_array->m_count);
            Item** lp_small = ResizeSmall(nullptr, SmallCapacity(l_count));
            std::uint32_t l_copied = 0;
            for (auto* lp_part : lp_array->m_chunks) {
                std::memcpy(lp_small + l_copied, lp_part->m_items, sizeof(Item*) * lp_part->m_count);
                l_copied += lp_part->m_count;
            }
            delete lp_array;
            SetSmall(lp_small, l_count);
        }
        return true;
    }
    }
}

void PartnerSet::AppendTo(std::vector<Item*>& o_items) const
{
    switch (GetTag()) {
    case SingleTag:
        if (m_bits)
            o_items.push_back(reinterpret_cast<Item*>(m_bits));
        return;
    case SmallTag:
        o_items.insert(o_items.end(), Small(), Small() + SmallCount());
        return;
    default:
        o_items.reserve(o_items.size() + Chunked()->m_count);
        for (const auto* lp_chunk : Chunked()->m_chunks)
            o_items.insert(o_items.end(), lp_chunk->m_items, lp_chunk->m_items + lp_chunk->m_count);
        return;
    }
}

namespace {

// Walks of many partners read each partner's bookkeeping (entry count,
// flags), which sits near the end of the item: ask for it a few partners
// ahead, so that the cache misses of a long walk overlap.
constexpr std::uint32_t kPrefetchDistance = 8;

inline void PrefetchItem(const Item* ip_item)
{
    __builtin_prefetch(reinterpret_cast<const char*>(ip_item) + Item::kBookkeepingOffset);
}

void VisitArray(Item* const* ip_items, std::uint32_t i_count, void (*ip_visit)(void*, Item*), void* ip_context)
{
    for (std::uint32_t l_index = 0; l_index < i_count; ++l_index) {
        if (l_index + kPrefetchDistance < i_count)
            PrefetchItem(ip_items[l_index + kPrefetchDistance]);
        ip_visit(ip_context, ip_items[l_index]);
    }
}

bool FindInArray(Item* const* ip_items, std::uint32_t i_count, bool (*ip_test)(void*, Item*), void* ip_context)
{
    for (std::uint32_t l_index = 0; l_index < i_count; ++l_index) {
        if (l_index + kPrefetchDistance < i_count)
            PrefetchItem(ip_items[l_index + kPrefetchDistance]);
        if (ip_test(ip_context, ip_items[l_index]))
            return true;
    }
    return false;
}

}  // namespace

bool PartnerSet::AnyOfImpl(bool (*ip_test)(void*, Item*), void* ip_context) const
{
    if (GetTag() == SmallTag)
        return FindInArray(Small(), SmallCount(), ip_test, ip_context);
    if (GetTag() == ChunkedTag) {
        for (const auto* lp_chunk : Chunked()->m_chunks) {
            if (FindInArray(lp_chunk->m_items, lp_chunk->m_count, ip_test, ip_context))
                return true;
        }
    }
    return false;
}

void PartnerSet::ForEachImpl(void (*ip_visit)(void*, Item*), void* ip_context) const
{
    if (GetTag() == SmallTag) {
        VisitArray(Small(), SmallCount(), ip_visit, ip_context);
    } else if (GetTag() == ChunkedTag) {
        for (const auto* lp_chunk : Chunked()->m_chunks)
            VisitArray(lp_chunk->m_items, lp_chunk->m_count, ip_visit, ip_context);
    }
}

void PartnerSet::Free()
{
    if (GetTag() == SmallTag)
        std::free(Small());
    else if (GetTag() == ChunkedTag)
        delete Chunked();
    m_bits = 0;
}
