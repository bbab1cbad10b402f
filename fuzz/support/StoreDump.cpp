#include "StoreDump.h"

#include "core/store/Data.h"

#include <algorithm>
#include <cstdio>
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
