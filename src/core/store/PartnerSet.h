#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

class Item;

// The partners of one item among the items of one related type, kept in
// ascending address order. One word: a single partner is stored in place,
// a few in a sorted array, many (a flag item shared by a million files) in a
// chunked sorted array whose insertions and removals stay cheap.
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

private:
    enum Tag : std::uintptr_t { SingleTag = 0, SmallTag = 1, ChunkedTag = 2, TagMask = 3 };
    struct SmallArray;
    struct ChunkedArray;

    Tag GetTag() const { return Tag(m_bits & TagMask); }
    SmallArray* Small() const { return reinterpret_cast<SmallArray*>(m_bits & ~std::uintptr_t(TagMask)); }
    ChunkedArray* Chunked() const { return reinterpret_cast<ChunkedArray*>(m_bits & ~std::uintptr_t(TagMask)); }
    void ForEachImpl(void (*ip_visit)(void*, Item*), void* ip_context) const;

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
