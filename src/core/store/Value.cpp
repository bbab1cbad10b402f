#include "core/store/Value.h"

#include <charconv>

namespace {

template <class T>
T ParseDecimal(const std::string& i_text)
{
    const char* lp_begin = i_text.data();
    const char* lp_end = lp_begin + i_text.size();
    while (lp_begin != lp_end && (*lp_begin == ' ' || *lp_begin == '\t'))
        ++lp_begin;
    if (lp_begin != lp_end && *lp_begin == '+')
        ++lp_begin;
    T l_number = 0;
    const auto l_result = std::from_chars(lp_begin, lp_end, l_number);
    return l_result.ec == std::errc() ? l_number : T(0);
}

}  // namespace

namespace ValueText {

int ToInt(const std::string& i_text)
{
    return ParseDecimal<int>(i_text);
}

unsigned int ToUInt(const std::string& i_text)
{
    return ParseDecimal<unsigned int>(i_text);
}

long long ToInt64(const std::string& i_text)
{
    return ParseDecimal<long long>(i_text);
}

quintptr ToUIntPtr(const std::string& i_text)
{
    return ParseDecimal<quintptr>(i_text);
}

}  // namespace ValueText
