#pragma once

#include <QtGlobal>

#include <list>
#include <map>
#include <set>
#include <string>
#include <utility>
#include <vector>

class StreamReadable;
class StreamWritable;
class FileInfo;

// The binary encoding shared by every wire message: integers are 4 bytes
// little-endian, 64-bit integers 8 bytes, bool and flag bytes 1 byte, a string
// is a u32 byte count followed by the bytes, and a list, set or map is a u32
// count followed by its elements. 64-bit values travel as qint64 / quint64;
// other integer types (size_t, long) are deliberately not accepted, so that
// the width on the wire never depends on the host.

// A byte source. Every read either succeeds completely or, when the source
// holds fewer bytes than needed, fails without consuming or writing anything.
class InputStream
{
public:
    // Largest string length and container count a read accepts; data from
    // the network is never trusted to size an allocation beyond this.
    static constexpr unsigned int MaxCount = 131072;

    virtual ~InputStream() = default;

    // Copies exactly i_length bytes to op_buffer. Returns false, consuming
    // nothing and leaving op_buffer untouched, when fewer bytes remain.
    virtual bool ReadBuffer(void* op_buffer, unsigned long i_length) = 0;

    bool Read(int& o_value);
    bool Read(unsigned int& o_value);
    bool Read(qint64& o_value);
    bool Read(quint64& o_value);
    bool Read(bool& o_value);
    bool Read(quint8& o_value);

    // A count above MaxCount fails with the count consumed and o_value left
    // unchanged; the text ends at its first NUL byte, if any.
    bool Read(std::string& o_value);

    bool Read(StreamReadable& o_record);

    // Each record is read into a fresh object; an empty record (a leading 0
    // byte) carries no file and is left out of the set.
    bool Read(std::set<FileInfo>& o_files);

    // Containers: a count above MaxCount fails with the count consumed and the
    // container unchanged; otherwise the container is emptied and refilled.
    // A read that fails part-way leaves the elements read before the failure.
    template <class T>
    bool Read(std::list<T>& o_list);
    template <class T>
    bool Read(std::vector<T>& o_list);
    template <class T>
    bool Read(std::set<T>& o_set);
    template <class K, class V>
    bool Read(std::map<K, V>& o_map);
    template <class A, class B>
    bool Read(std::pair<A, B>& o_pair);

private:
    bool ReadCount(unsigned int& o_count);
    // A sequence or set: the count, then the elements, each read into a
    // fresh element.
    template <class C>
    bool ReadElements(C& o_container);
};

// A byte sink. Writes return false as soon as the underlying sink refuses.
class OutputStream
{
public:
    virtual ~OutputStream() = default;

    virtual bool WriteBuffer(const void* ip_buffer, unsigned long i_length) = 0;

    bool Write(int i_value);
    bool Write(unsigned int i_value);
    bool Write(qint64 i_value);
    bool Write(quint64 i_value);
    bool Write(bool i_value);
    bool Write(quint8 i_value);
    bool Write(const std::string& i_value);
    bool Write(const char* ip_text);
    bool Write(const StreamWritable& i_record);

    // A plain char would silently widen to a 4-byte int: say quint8 or int.
    bool Write(char) = delete;
    // Any other pointer would silently turn into a bool.
    template <class T>
    bool Write(const T*) = delete;

    template <class T>
    bool Write(const std::list<T>& i_list);
    template <class T>
    bool Write(const std::vector<T>& i_list);
    template <class T>
    bool Write(const std::set<T>& i_set);
    template <class K, class V>
    bool Write(const std::map<K, V>& i_map);
    template <class A, class B>
    bool Write(const std::pair<A, B>& i_pair);

private:
    bool WriteCount(std::size_t i_count);

    template <class C>
    bool WriteElements(const C& i_container);
};

template <class C>
bool InputStream::ReadElements(C& o_container)
{
    unsigned int l_count = 0;
    if (!ReadCount(l_count))
        return false;
    o_container.clear();
    for (unsigned int l_index = 0; l_index < l_count; ++l_index) {
        typename C::value_type l_element{};
        if (!Read(l_element))
            return false;
        o_container.insert(o_container.end(), std::move(l_element));
    }
    return true;
}

template <class T>
bool InputStream::Read(std::list<T>& o_list)
{
    return ReadElements(o_list);
}

template <class T>
bool InputStream::Read(std::vector<T>& o_list)
{
    return ReadElements(o_list);
}

template <class T>
bool InputStream::Read(std::set<T>& o_set)
{
    return ReadElements(o_set);
}

template <class K, class V>
bool InputStream::Read(std::map<K, V>& o_map)
{
    unsigned int l_count = 0;
    if (!ReadCount(l_count))
        return false;
    o_map.clear();
    for (unsigned int l_index = 0; l_index < l_count; ++l_index) {
        K l_key{};
        if (!Read(l_key))
            return false;
        V l_value{};
        if (!Read(l_value))
            return false;
        o_map.insert_or_assign(std::move(l_key), std::move(l_value));
    }
    return true;
}

template <class A, class B>
bool InputStream::Read(std::pair<A, B>& o_pair)
{
    A l_first{};
    B l_second{};
    if (!Read(l_first) || !Read(l_second))
        return false;
    o_pair = std::pair<A, B>(std::move(l_first), std::move(l_second));
    return true;
}

template <class C>
bool OutputStream::WriteElements(const C& i_container)
{
    if (!WriteCount(i_container.size()))
        return false;
    for (const auto& l_element : i_container) {
        if (!Write(l_element))
            return false;
    }
    return true;
}

template <class T>
bool OutputStream::Write(const std::list<T>& i_list)
{
    return WriteElements(i_list);
}

template <class T>
bool OutputStream::Write(const std::vector<T>& i_list)
{
    return WriteElements(i_list);
}

template <class T>
bool OutputStream::Write(const std::set<T>& i_set)
{
    return WriteElements(i_set);
}

template <class K, class V>
bool OutputStream::Write(const std::map<K, V>& i_map)
{
    return WriteElements(i_map);
}

template <class A, class B>
bool OutputStream::Write(const std::pair<A, B>& i_pair)
{
    return Write(i_pair.first) && Write(i_pair.second);
}
