#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

class Item;

// Finds the item of a valued type by its value: an open-addressing table of
// item pointers with a one-byte hash tag per slot, so a lookup of one among a
// million values touches few cache lines and the table costs about ten bytes
// per item.
class ValueIndex
{
public:
    Item* Find(std::string_view i_value) const;
    // The value must not be present yet.
    void Insert(Item* ip_item);
    void Erase(Item* ip_item);
    void Clear();
    std::size_t Size() const { return m_size; }

private:
    static std::size_t Hash(std::string_view i_value);
    static std::uint8_t Tag(std::size_t i_hash) { return std::uint8_t(i_hash >> 57) | 0x80; }
    void Grow();
    void Place(Item* ip_item, std::size_t i_hash);

    std::vector<Item*> m_slots;
    std::vector<std::uint8_t> m_tags;  // 0 = empty slot
    std::size_t m_size = 0;
    std::size_t m_mask = 0;
};
