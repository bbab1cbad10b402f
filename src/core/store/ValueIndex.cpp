#include "core/store/ValueIndex.h"

#include "core/store/Item.h"

#include <QtGlobal>

#include <cstdlib>
#include <functional>
#include <new>
#include <sys/mman.h>

namespace {

constexpr std::size_t kHugePage = std::size_t(2) << 20;

}  // namespace

void* AllocateLargeTable(std::size_t i_bytes)
{
    if (i_bytes < kHugePage) {
        if (void* lp_memory = std::malloc(i_bytes ? i_bytes : 1))
            return lp_memory;
        throw std::bad_alloc();
    }
    const std::size_t l_rounded = (i_bytes + kHugePage - 1) / kHugePage * kHugePage;
    void* lp_memory = std::aligned_alloc(kHugePage, l_rounded);
    if (!lp_memory)
        throw std::bad_alloc();
    ::madvise(lp_memory, l_rounded, MADV_HUGEPAGE);
    return lp_memory;
}

void FreeLargeTable(void* ip_memory, std::size_t)
{
    std::free(ip_memory);
}

std::size_t ValueIndex::Hash(std::string_view i_value)
{
    // Spread the bits: the tag takes the top ones, the slot the low ones.
    std::size_t l_hash = std::hash<std::string_view>()(i_value);
    l_hash ^= l_hash >> 31;
    l_hash *= 0x9E3779B97F4A7C15ull;
    return l_hash ^ (l_hash >> 29);
}

Item* ValueIndex::Find(std::string_view i_value, std::size_t i_hash) const
{
    if (m_size == 0)
        return nullptr;
    const std::size_t l_hash = i_hash;
    const std::uint64_t l_tag = Tag(l_hash);
    for (std::size_t l_slot = l_hash & m_mask;; l_slot = (l_slot + 1) & m_mask) {
        const std::uint64_t l_entry = m_slots[l_slot];
        if (l_entry == 0)
            return nullptr;
        if ((l_entry & ~kPointerMask) == l_tag && ItemOf(l_entry)->m_value == i_value)
            return ItemOf(l_entry);
    }
}

std::size_t ValueIndex::Place(std::uint64_t i_entry, std::uint32_t i_hash)
{
    std::size_t l_slot = i_hash & m_mask;
    while (m_slots[l_slot] != 0)
        l_slot = (l_slot + 1) & m_mask;
    m_slots[l_slot] = i_entry;
    m_hashes[l_slot] = i_hash;
    return l_slot;
}

void ValueIndex::Grow()
{
    const std::size_t l_capacity = m_slots.empty() ? 16 : m_slots.size() * 2;
    if (l_capacity > (std::size_t(1) << 32))
        qFatal("ValueIndex: too many values");
    std::vector<std::uint64_t, LargeTableAllocator<std::uint64_t>> l_oldSlots(l_capacity, 0);
    std::vector<std::uint32_t, LargeTableAllocator<std::uint32_t>> l_oldHashes(l_capacity, 0);
    l_oldSlots.swap(m_slots);
    l_oldHashes.swap(m_hashes);
    m_mask = l_capacity - 1;
    for (std::size_t l_slot = 0; l_slot < l_oldSlots.size(); ++l_slot) {
        if (l_oldSlots[l_slot] != 0)
            Place(l_oldSlots[l_slot], l_oldHashes[l_slot]);
    }
}

void ValueIndex::Reserve(std::size_t i_count)
{
    while (i_count * 4 > m_slots.size() * 3)
        Grow();
}

void ValueIndex::Insert(Item* ip_item, std::size_t i_hash)
{
    const std::uint64_t l_address = PackedPointer::PackedAddress(ip_item, 0, "ValueIndex");
    // At most three quarters full keeps probe runs short.
    if ((m_size + 1) * 4 > m_slots.size() * 3)
        Grow();
    Place(Tag(i_hash) | l_address, std::uint32_t(i_hash));
    ++m_size;
}

void ValueIndex::Erase(Item* ip_item)
{
    if (m_size == 0)
        return;
    std::size_t l_slot = Hash(ip_item->m_value) & m_mask;
    while (ItemOf(m_slots[l_slot]) != ip_item) {
        if (m_slots[l_slot] == 0)
            return;
        l_slot = (l_slot + 1) & m_mask;
    }
    // Shift the following entries of the run back, so that no lookup stops
    // early at the hole (no tombstones needed).
    std::size_t l_hole = l_slot;
    for (std::size_t l_next = (l_hole + 1) & m_mask; m_slots[l_next] != 0; l_next = (l_next + 1) & m_mask) {
        const std::size_t l_home = m_hashes[l_next] & m_mask;
        // It may move into the hole unless its home lies in (hole, next], cyclically.
        const bool l_homeAfterHole = l_hole <= l_next ? (l_home > l_hole && l_home <= l_next)
                                                      : (l_home > l_hole || l_home <= l_next);
        if (!l_homeAfterHole) {
            m_slots[l_hole] = m_slots[l_next];
            m_hashes[l_hole] = m_hashes[l_next];
            l_hole = l_next;
        }
    }
    m_slots[l_hole] = 0;
    --m_size;
}

void ValueIndex::Clear()
{
    m_slots.clear();
    m_hashes.clear();
    m_size = 0;
    m_mask = 0;
}
