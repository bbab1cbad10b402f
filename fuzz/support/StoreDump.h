#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

class Type;

// A canonical text of the whole item store: every type with its flags and
// its items, then every connection as seen from each of its two ends, all
// sorted. A valued item is named by its type and value (unique within the
// type), a null item by its type and place in the type, with a mark for the
// type's shared flag item. Two stores with the same types, items, values and
// connections give the same text, whatever the items' addresses.
std::string DumpStore();

// The first line in which two dumps differ, for a report.
std::string FirstDifference(const std::string& i_before, const std::string& i_after);

// A number that stands for the dump's content, computed without building it:
// every type, item and connection adds a hash of what the dump would say
// of it, so that the order of types and items does not count. Equal stores
// give equal numbers; two that differ give equal ones only by a 64-bit
// accident. For oracles that compare the store before and after every one
// of many messages. It knows the store's types from its making on; after
// the store was reset and declared the same types again, Rebind finds them.
class StoreFingerprint
{
public:
    StoreFingerprint();
    void Rebind();
    std::uint64_t operator()() const;

private:
    struct KnownType
    {
        std::string m_name;
        const Type* mp_type = nullptr;
        std::uint64_t m_hash = 0;
    };
    // The hash of a type's name, by the type.
    std::uint64_t TypeHash(const Type* ip_type) const;
    void SortByType();

    std::vector<KnownType> m_types;
    // m_types' types and hashes ordered by the type's address.
    std::vector<std::pair<const Type*, std::uint64_t>> m_byType;
};
