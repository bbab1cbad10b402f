#include "store/ValueIndex.h"

#include "store/Item.h"

#include <functional>

std::size_t ValueIndex::Hash(std::string_view i_value)
{
    // Spread the bits: the tag takes the top ones, the slot the low ones.
    std::size_t l_hash = std::hash<std::string_view>()(i_value);
    l_hash ^= l_hash >> 31;
    l_hash *= 0x9E3779B97F4A7C15ull;
    return l_hash ^ (l_hash >> 29);
}

Item* ValueIndex::Find(std::string_view i_value) const
{
    if (m_size == 0)
        return nullptr;
    const std::size_t l_hash = Hash(i_value);
    const std::uint8_t l_tag = Tag(l_hash);
    for (std::size_t l_slot = l_hash & m_mask;; l_slot = (l_slot + 1) & m_mask) {
        const std::uint8_t l_slotTag = m_tags[l_slot];
        if (l_slotTag == 0)
            return nullptr;
        if (l_slotTag == l_tag && m_slots[l_slot]->m_value == i_value)
            return m_slots[l_slot];
    }
}

void ValueIndex::Place(Item* ip_item, std::size_t i_hash)
{
    std::size_t l_slot = i_hash & m_mask;
    while (m_tags[l_slot] != 0)
        l_slot = (l_slot + 1) & m_mask;
    m_slots[l_slot] = ip_item;
    m_tags[l_slot] = Tag(i_hash);
}

void ValueIndex::Grow()
{
    const std::size_t l_capacity = m_slots.empty() ? 16 : m_slots.size() * 2;
    std::vector<Item*> l_oldSlots(l_capacity, nullptr);
    std::vector<std::uint8_t> l_oldTags(l_capacity, 0);
    l_oldSlots.swap(m_slots);
    l_oldTags.swap(m_tags);
    m_mask = l_capacity - 1;
    for (std::size_t l_slot = 0; l_slot < l_oldSlots.size(); ++l_slot) {
        if (l_oldTags[l_slot] != 0)
            Place(l_oldSlots[l_slot], Hash(l_oldSlots[l_slot]->m_value));
    }
}

void ValueIndex::Insert(Item* ip_item)
{
    // At most three quarters full keeps probe runs short.
    if ((m_size + 1) * 4 > m_slots.size() * 3)
        Grow();
    Place(ip_item, Hash(ip_item->m_value));
    ++m_size;
}

void ValueIndex::Erase(Item* ip_item)
{
    if (m_size == 0)
        return;
    std::size_t l_slot = Hash(ip_item->m_value) & m_mask;
    while (m_slots[l_slot] != ip_item || m_tags[l_slot] == 0) {
        if (m_tags[l_slot] == 0)
            return;
        l_slot = (l_slot + 1) & m_mask;
    }
    // Shift the following entries of the run back, so that no lookup stops
    // early at the hole (no tombstones needed).
    std::size_t l_hole = l_slot;
    for (std::size_t l_next = (l_hole + 1) & m_mask; m_tags[l_next] != 0; l_next = (l_next + 1) & m_mask) {
        const std::size_t l_home = Hash(m_slots[l_next]->m_value) & m_mask;
        // Move it when its home is not within (hole, next], cyclically.
        const bool l_homeAfterHole = l_hole <= l_next ? (l_home > l_hole && l_home <= l_next)
                                                      : (l_home > l_hole || l_home <= l_next);
        if (!l_homeAfterHole) {
            m_slots[l_hole] = m_slots[l_next];
            m_tags[l_hole] = m_tags[l_next];
            l_hole = l_next;
        }
    }
    m_slots[l_hole] = nullptr;
    m_tags[l_hole] = 0;
    --m_size;
}

void ValueIndex::Clear()
{
    m_slots.clear();
    m_tags.clear();
    m_size = 0;
    m_mask = 0;
}
