#pragma once

#include "core/store/PackedPointer.h"

#include <cstddef>
#include <cstdint>
#include <type_traits>
#include <vector>

class Item;

// The partners of one item among the items of one related type, kept in
// ascending address order. One word: a single partner is stored in place;
// a few in a sorted array whose count rides in the word's top bits (so an
// insertion at the end reads one cache line of a cold array); many (a flag
// item shared by a million files) in a chunked sorted array whose insertions
// and removals stay cheap. README.md in this folder draws the word.
class PartnerSet
{
public:
    std::size_t Size() const;
    bool Empty() const { return m_bits == 0; }
    Item* First() const;
    bool Contains(const Item* ip_item) const;
    // False when the partner was present already / absent.
    bool Insert(Item* ip_item);
    bool Erase(Item* ip_item);
    void AppendTo(std::vector<Item*>& o_items) const;
    void Free();

    template <class F>
    void ForEach(F&& i_function) const;
    // Whether the predicate holds for some partner; stops at the first, in
    // address order.
    template <class F>
    bool AnyOf(F&& i_predicate) const;

    // How costly a lookup in this set is, without touching its memory:
    // 0 for a single partner, 1 for a small array, 2 for a chunked one.
    int LookupCost() const { return int(GetTag()); }

private:
    enum Tag : std::uintptr_t { SingleTag = 0, SmallTag = 1, ChunkedTag = 2, TagMask = 3 };
    static constexpr int kCountShift = PackedPointer::kAddressBits;
    static constexpr std::uintptr_t kPointerMask = PackedPointer::kAddressMask & ~std::uintptr_t(TagMask);
    struct ChunkedArray;

    Tag GetTag() const { return Tag(m_bits & TagMask); }
    Item** Small() const { return reinterpret_cast<Item**>(m_bits & kPointerMask); }
    std::uint32_t SmallCount() const { return std::uint32_t(m_bits >> kCountShift); }
    // Each form's word is made here only, every pointer checked alike.
    void SetSingle(Item* ip_item) { m_bits = PackedPointer::PackedAddress(ip_item, TagMask, "PartnerSet"); }
    void SetSmall(Item** ip_items, std::uint32_t i_count);
    void SetChunked(ChunkedArray* ip_array);
    ChunkedArray* Chunked() const { return reinterpret_cast<ChunkedArray*>(m_bits & kPointerMask); }
    void ForEachImpl(void (*ip_visit)(void*, Item*), void* ip_context) const;
    bool AnyOfImpl(bool (*ip_test)(void*, Item*), void* ip_context) const;

    std::uintptr_t m_bits = 0;
};

template <class F>
void PartnerSet::ForEach(F&& i_function) const
{
    if (GetTag() == SingleTag) {
        if (m_bits)
            i_function(reinterpret_cast<Item*>(m_bits));
        return;
    }
    ForEachImpl([](void* ip_context, Item* ip_item) { (*static_cast<F*>(ip_context))(ip_item); }, &i_function);
}

template <class F>
bool PartnerSet::AnyOf(F&& i_predicate) const
{
    if (GetTag() == SingleTag)
        return m_bits && i_predicate(reinterpret_cast<Item*>(m_bits));
    using Predicate = std::remove_reference_t<F>;
    return AnyOfImpl(
        [](void* ip_context, Item* ip_item) { return bool((*static_cast<Predicate*>(ip_context))(ip_item)); },
        const_cast<void*>(static_cast<const void*>(&i_predicate)));
}
