#pragma once

#include "core/store/PackedPointer.h"

#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

class Item;

// Large lookup tables are read at random: back them with huge pages where
// the system offers them, so that a lookup does not also miss the TLB.
template <class T>
struct LargeTableAllocator
{
    using value_type = T;
    LargeTableAllocator() = default;
    template <class U>
    LargeTableAllocator(const LargeTableAllocator<U>&)
    {
    }
    T* allocate(std::size_t i_count);
    void deallocate(T* ip_memory, std::size_t i_count);
    template <class U>
    bool operator==(const LargeTableAllocator<U>&) const
    {
        return true;
    }
};

void* AllocateLargeTable(std::size_t i_bytes);
void FreeLargeTable(void* ip_memory, std::size_t i_bytes);

template <class T>
T* LargeTableAllocator<T>::allocate(std::size_t i_count)
{
    return static_cast<T*>(AllocateLargeTable(i_count * sizeof(T)));
}

template <class T>
void LargeTableAllocator<T>::deallocate(T* ip_memory, std::size_t i_count)
{
    FreeLargeTable(ip_memory, i_count * sizeof(T));
}

// Finds the item of a valued type by its value: an open-addressing table of
// item pointers whose unused top bits carry part of the value's hash, so a
// lookup among a million values reads one slot and, on a likely match, the
// item itself; about sixteen bytes per item.
class ValueIndex
{
public:
    static std::size_t Hash(std::string_view i_value);
    Item* Find(std::string_view i_value) const { return Find(i_value, Hash(i_value)); }
    Item* Find(std::string_view i_value, std::size_t i_hash) const;
    // The value must not be present yet; the hash is Hash(item's value).
    void Insert(Item* ip_item, std::size_t i_hash);
    void Erase(Item* ip_item);
    void Clear();
    // Makes room for that many values in all, so that filling the index
    // does not rehash it again and again.
    void Reserve(std::size_t i_count);
    std::size_t Size() const { return m_size; }

private:
    static constexpr int kPointerBits = PackedPointer::kAddressBits;
    static constexpr std::uint64_t kPointerMask = PackedPointer::kAddressMask;

    static std::uint64_t Tag(std::size_t i_hash) { return (std::uint64_t(i_hash >> kPointerBits) | 1) << kPointerBits; }
    static Item* ItemOf(std::uint64_t i_slot) { return reinterpret_cast<Item*>(i_slot & kPointerMask); }
    void Grow();
    std::size_t Place(std::uint64_t i_entry, std::uint32_t i_hash);

    std::vector<std::uint64_t, LargeTableAllocator<std::uint64_t>> m_slots;  // 0 = empty
    // The low hash bits of each slot's value, so that growing and erasing
    // never have to read the items themselves.
    std::vector<std::uint32_t, LargeTableAllocator<std::uint32_t>> m_hashes;
    std::size_t m_size = 0;
    std::size_t m_mask = 0;
};
