#pragma once

#include <string>

// A canonical text of the whole item store: every type with its flags and
// its items, then every connection as seen from each of its two ends, all
// sorted. A valued item is named by its type and value (unique within the
// type), a null item by its type and place in the type, with a mark for the
// type's shared flag item. Two stores with the same types, items, values and
// connections give the same text, whatever the items' addresses.
std::string DumpStore();

// The first line in which two dumps differ, for a report.
std::string FirstDifference(const std::string& i_before, const std::string& i_after);
