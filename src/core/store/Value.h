#pragma once

#include <QtGlobal>

#include <cstdint>
#include <string>

// The cardinality of one end of a relation between two item types.
enum OneOrMany { One = 0, Many = 1 };

// An item's value: always text. Numbers become their decimal text; object
// pointers become their address as unsigned decimal text, so an object (a
// socket, a tree row) can be an item and be found again by its address.
class Value
{
public:
    Value(const char* i_text) : m_text(i_text ? i_text : "") {}
    Value(char* i_text) : m_text(i_text ? i_text : "") {}
    Value(const std::string& i_text) : m_text(i_text) {}
    Value(std::string&& i_text) : m_text(std::move(i_text)) {}
    Value(int i_number) : m_text(std::to_string(i_number)) {}
    Value(unsigned int i_number) : m_text(std::to_string(i_number)) {}
    Value(long i_number) : m_text(std::to_string(i_number)) {}
    Value(unsigned long i_number) : m_text(std::to_string(i_number)) {}
    Value(long long i_number) : m_text(std::to_string(i_number)) {}
    Value(unsigned long long i_number) : m_text(std::to_string(i_number)) {}
    template <class T>
    Value(T* ip_object) : m_text(std::to_string(reinterpret_cast<quintptr>(ip_object)))
    {
    }

    std::string m_text;
};

template <class T>
std::string ToString(T i_number)
{
    return std::to_string(i_number);
}

// The decimal text of an object's address, the form in which objects are
// stored as item values.
template <class T>
std::string AddressToString(T* ip_object)
{
    return std::to_string(reinterpret_cast<quintptr>(ip_object));
}

namespace ValueText {
// Decimal readers of item values: 0 when the text is not a number of that
// width. Leading white space and a trailing remainder are ignored.
int ToInt(const std::string& i_text);
unsigned int ToUInt(const std::string& i_text);
// The same, false when the text is a number too large for 32 bits.
bool ToUInt(const std::string& i_text, unsigned int& o_number);
long long ToInt64(const std::string& i_text);
quintptr ToUIntPtr(const std::string& i_text);
}
