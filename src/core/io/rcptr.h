#pragma once

#include <QtGlobal>

#include <atomic>
#include <utility>

// Stops the program when a precondition of a low-level buffer operation is
// broken. Unlike Q_ASSERT it is kept in release builds: carrying on would
// read or write outside a buffer.
#define KSTR_REQUIRE(i_condition, i_text)                                                        \
    do {                                                                                         \
        if (!(i_condition))                                                                      \
            qFatal("ASSERT failure in %s: \"%s\", file %s, line %d", Q_FUNC_INFO, i_text,        \
                   __FILE__, __LINE__);                                                          \
    } while (false)

// A reference-counted owning pointer: every copy points at the same object,
// and the last copy to go deletes it. Copies may live on different threads.
template <class T>
class rcptr
{
public:
    rcptr() = default;

    explicit rcptr(T* ip_object) : mp_object(ip_object)
    {
        if (mp_object)
            mp_count = new std::atomic<long>(1);
    }

    rcptr(const rcptr& i_other) : mp_object(i_other.mp_object), mp_count(i_other.mp_count)
    {
        if (mp_count)
            mp_count->fetch_add(1, std::memory_order_relaxed);
    }

    rcptr(rcptr&& io_other) noexcept
        : mp_object(std::exchange(io_other.mp_object, nullptr)),
          mp_count(std::exchange(io_other.mp_count, nullptr))
    {
    }

    rcptr& operator=(rcptr i_other) noexcept
    {
        std::swap(mp_object, i_other.mp_object);
        std::swap(mp_count, i_other.mp_count);
        return *this;
    }

    ~rcptr() { Release(); }

    T* operator->() const
    {
        KSTR_REQUIRE(mp_object != 0, "mp_object != 0");
        return mp_object;
    }

    T& operator*() const
    {
        KSTR_REQUIRE(mp_object != 0, "mp_object != 0");
        return *mp_object;
    }

    T* Get() const { return mp_object; }
    bool IsNull() const { return mp_object == nullptr; }

private:
    void Release()
    {
        if (mp_count && mp_count->fetch_sub(1, std::memory_order_acq_rel) == 1) {
            delete mp_object;
            delete mp_count;
        }
        mp_object = nullptr;
        mp_count = nullptr;
    }

    T* mp_object = nullptr;
    std::atomic<long>* mp_count = nullptr;
};
