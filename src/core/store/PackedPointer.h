#pragma once

#include <QtGlobal>

#include <cstdint>

// The store packs pointers into 64-bit words together with other bits: a
// partner set's form tag (low bits) and small-array count (top bits), a value
// index slot's hash tag (top bits). That needs user-space addresses of at
// most 48 bits (x86-64 and AArch64 with 4-level page tables) and objects
// aligned past the low tag bits. Every packed pointer goes through
// PackedAddress, so that a platform where this does not hold (5-level page
// tables, tagged pointers) stops at once instead of handing back a
// different pointer later.
namespace PackedPointer {

static_assert(sizeof(void*) == 8 && sizeof(std::uintptr_t) == 8, "packed pointers need 64-bit words");

constexpr int kAddressBits = 48;
constexpr std::uintptr_t kAddressMask = (std::uintptr_t(1) << kAddressBits) - 1;

[[noreturn]] inline void Unpackable(const char* ip_what, const void* ip_pointer)
{
    qFatal("%s: the address %p does not fit the packed form (48 bits, aligned)", ip_what, ip_pointer);
}

// The pointer as an integer whose top 16 bits and i_lowBits are zero.
inline std::uintptr_t PackedAddress(const void* ip_pointer, std::uintptr_t i_lowBits, const char* ip_what)
{
    const auto l_address = reinterpret_cast<std::uintptr_t>(ip_pointer);
    if (Q_UNLIKELY((l_address & ~(kAddressMask & ~i_lowBits)) != 0))
        Unpackable(ip_what, ip_pointer);
    return l_address;
}

}  // namespace PackedPointer
