#include "StoreDump.h"

#include "FuzzSupport.h"

#include "core/store/Data.h"

#include <algorithm>
#include <cstdio>
#include <functional>
#include <sstream>
#include <vector>

namespace
{
std::string Escaped(const std::string& i_value)
{
    std::string l_text;
    for (const unsigned char l_char : i_value) {
        if (l_char >= 0x20 && l_char < 0x7F && l_char != '\\' && l_char != ' ') {
            l_text += char(l_char);
        } else {
            char l_code[8];
            std::snprintf(l_code, sizeof l_code, "\\x%02x", l_char);
            l_text += l_code;
        }
    }
    return l_text;
}

std::string NameOf(const Item* ip_item)
{
    const Type* lp_type = ip_item->mp_type;
    if (!lp_type->m_null)
        return lp_type->m_name + ":" + Escaped(ip_item->m_value);
    return lp_type->m_name + "#" + std::to_string(ip_item->IndexInType()) + (lp_type->IsGlobalNullItem(ip_item) ? "*" : "");
}

std::uint64_t Mixed(std::uint64_t i_value)
{
    // The finaliser of splitmix64: every input bit reaches every output bit.
    i_value = (i_value ^ (i_value >> 30)) * 0xbf58476d1ce4e5b9ULL;
    i_value = (i_value ^ (i_value >> 27)) * 0x94d049bb133111ebULL;
    return i_value ^ (i_value >> 31);
}

std::uint64_t HashOf(const Item* ip_item, std::uint64_t i_typeHash)
{
    const Type* lp_type = ip_item->mp_type;
    if (!lp_type->m_null)
        return Mixed(i_typeHash ^ std::hash<std::string>()(ip_item->m_value));
    const std::uint64_t l_place = std::uint64_t(ip_item->IndexInType()) * 2 + (lp_type->IsGlobalNullItem(ip_item) ? 1 : 0);
    return Mixed(i_typeHash + l_place + 0x9e3779b97f4a7c15ULL);
}
}  // namespace

std::string DumpStore()
{
    QHash<std::string, Type*> l_byName;
    d.GetTypes(l_byName);
    std::vector<const Type*> l_types(l_byName.begin(), l_byName.end());
    std::sort(l_types.begin(), l_types.end(), [](const Type* ip_a, const Type* ip_b) { return ip_a->m_name < ip_b->m_name; });

    std::string l_dump;
    std::vector<std::string> l_links;
    for (const Type* lp_type : l_types) {
        l_dump += "type " + lp_type->m_name + (lp_type->m_primary ? " primary" : "") + (lp_type->m_null ? " null" : "") +
                  (lp_type->m_spontaneousCreation ? " spontaneous" : "") + " items " + std::to_string(lp_type->ItemCount()) + "\n";
        std::vector<std::string> l_items;
        for (const Item* lp_item : lp_type->UnorderedItems()) {
            l_items.push_back(NameOf(lp_item));
            for (const ConnectionEntry* lp_entry = lp_item->EntriesBegin(); lp_entry != lp_item->EntriesEnd(); ++lp_entry) {
                lp_entry->m_partners.ForEach(
                    [&](const Item* ip_partner) { l_links.push_back(NameOf(lp_item) + " " + NameOf(ip_partner)); });
            }
        }
        std::sort(l_items.begin(), l_items.end());
        for (const std::string& l_item : l_items)
            l_dump += "  " + l_item + "\n";
    }
    std::sort(l_links.begin(), l_links.end());
    for (const std::string& l_link : l_links)
        l_dump += "link " + l_link + "\n";
    return l_dump;
}

std::string FirstDifference(const std::string& i_before, const std::string& i_after)
{
    std::istringstream l_before(i_before);
    std::istringstream l_after(i_after);
    std::string l_left;
    std::string l_right;
    for (int l_line = 1;; ++l_line) {
        const bool l_hasLeft = bool(std::getline(l_before, l_left));
        const bool l_hasRight = bool(std::getline(l_after, l_right));
        if (!l_hasLeft && !l_hasRight)
            return "no difference";
        if (!l_hasLeft || !l_hasRight || l_left != l_right)
            return "line " + std::to_string(l_line) + ": before \"" + (l_hasLeft ? l_left : "<end>") + "\", after \"" +
                   (l_hasRight ? l_right : "<end>") + "\"";
    }
}

StoreFingerprint::StoreFingerprint()
{
    QHash<std::string, Type*> l_byName;
    d.GetTypes(l_byName);
    for (const Type* lp_type : l_byName)
        m_types.push_back({lp_type->m_name, lp_type, std::hash<std::string>()(lp_type->m_name)});
    SortByType();
}

void StoreFingerprint::Rebind()
{
    for (KnownType& l_type : m_types) {
        l_type.mp_type = d.HasType(l_type.m_name);
        if (!l_type.mp_type)
            OracleFailed("set-up: the store lost the type " + l_type.m_name);
    }
    SortByType();
}

void StoreFingerprint::SortByType()
{
    m_byType.clear();
    for (const KnownType& l_type : m_types)
        m_byType.emplace_back(l_type.mp_type, l_type.m_hash);
    std::sort(m_byType.begin(), m_byType.end());
}

std::uint64_t StoreFingerprint::TypeHash(const Type* ip_type) const
{
    const auto l_at = std::lower_bound(m_byType.begin(), m_byType.end(), std::make_pair(ip_type, std::uint64_t(0)));
    if (l_at == m_byType.end() || l_at->first != ip_type)
        OracleFailed("set-up: the store has a type that its fingerprint does not know: " + ip_type->m_name);
    return l_at->second;
}

std::uint64_t StoreFingerprint::operator()() const
{
    std::uint64_t l_sum = 0;
    for (const KnownType& l_type : m_types) {
        const Type* lp_type = l_type.mp_type;
        const std::uint64_t l_flags = (lp_type->m_primary ? 1 : 0) | (lp_type->m_null ? 2 : 0) |
                                      (lp_type->m_spontaneousCreation ? 4 : 0) | (std::uint64_t(lp_type->ItemCount()) << 3);
        l_sum += Mixed(l_type.m_hash ^ Mixed(l_flags));
        for (const Item* lp_item : lp_type->UnorderedItems()) {
            const std::uint64_t l_item = HashOf(lp_item, l_type.m_hash);
            l_sum += l_item;
            for (const ConnectionEntry* lp_entry = lp_item->EntriesBegin(); lp_entry != lp_item->EntriesEnd(); ++lp_entry) {
                const std::uint64_t l_partnerTypeHash = TypeHash(lp_entry->mp_type);
                lp_entry->m_partners.ForEach(
                    [&](const Item* ip_partner) { l_sum += Mixed(l_item * 3 + HashOf(ip_partner, l_partnerTypeHash)); });
            }
        }
    }
    return l_sum;
}
