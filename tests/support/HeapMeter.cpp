#include "HeapMeter.h"

#include <atomic>
#include <cstddef>

#if defined(__SANITIZE_ADDRESS__)
#define KSTR_HEAP_METER 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define KSTR_HEAP_METER 1
#endif
#endif

#ifdef KSTR_HEAP_METER

// The sanitizer's allocator interface; declared here because not every
// compiler ships its header.
extern "C" {
int __sanitizer_install_malloc_and_free_hooks(void (*ip_malloc)(const volatile void*, std::size_t),
                                              void (*ip_free)(const volatile void*));
std::size_t __sanitizer_get_allocated_size(const volatile void* ip_block);
int __lsan_do_recoverable_leak_check();
}

namespace {

std::atomic<qint64> g_inUse{0};
std::atomic<qint64> g_peak{0};

void OnMalloc(const volatile void*, std::size_t i_size)
{
    const qint64 l_now = g_inUse.fetch_add(qint64(i_size), std::memory_order_relaxed) + qint64(i_size);
    qint64 l_peak = g_peak.load(std::memory_order_relaxed);
    while (l_now > l_peak && !g_peak.compare_exchange_weak(l_peak, l_now, std::memory_order_relaxed)) {
    }
}

// Called while the block is still allocated, so its size is known.
void OnFree(const volatile void* ip_block)
{
    g_inUse.fetch_sub(qint64(__sanitizer_get_allocated_size(ip_block)), std::memory_order_relaxed);
}

bool InstallHooks()
{
    static const bool s_installed = __sanitizer_install_malloc_and_free_hooks(OnMalloc, OnFree) != 0;
    return s_installed;
}

}  // namespace

HeapMeter::HeapMeter()
{
    InstallHooks();
    m_start = g_inUse.load();
    g_peak.store(m_start);
}

bool HeapMeter::Available()
{
    return InstallHooks();
}

qint64 HeapMeter::Current() const
{
    return g_inUse.load() - m_start;
}

qint64 HeapMeter::Peak() const
{
    return g_peak.load() - m_start;
}

bool HeapMeter::LeaksLeft()
{
    return __lsan_do_recoverable_leak_check() != 0;
}

#else

HeapMeter::HeapMeter() = default;

bool HeapMeter::Available()
{
    return false;
}

qint64 HeapMeter::Current() const
{
    return 0;
}

qint64 HeapMeter::Peak() const
{
    return 0;
}

bool HeapMeter::LeaksLeft()
{
    return false;
}

#endif
