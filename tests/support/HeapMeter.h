#pragma once

#include <QtGlobal>

// Counts the heap bytes that the process allocates and frees from its
// construction on, for tests that bound what an operation needs at its
// peak. It counts only under AddressSanitizer, whose allocator tells every
// allocation and the size of every block freed; elsewhere Available() is
// false and a test skips its measure. One meter at a time.
class HeapMeter
{
public:
    HeapMeter();

    static bool Available();
    // Bytes in use beyond those at construction (negative when more was
    // freed than allocated since).
    qint64 Current() const;
    // The most that Current() has been since construction.
    qint64 Peak() const;

    // Whether heap blocks that nothing points to are left now (the leak
    // checker reports them on the error output); false where Available()
    // is.
    static bool LeaksLeft();

private:
    qint64 m_start = 0;
};
