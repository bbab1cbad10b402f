#pragma once

// The generated music share of the benchmarks: 100,000 files in 10,000
// folders (the root, 99 artists, 100 albums each), named from a vocabulary
// drawn by Zipf's law, the same on every run and every machine.

#include <QtGlobal>

#include <cstdint>
#include <functional>
#include <string>

inline constexpr int TotalFiles = 100000;
inline constexpr int Artists = 99;
inline constexpr int AlbumsPerArtist = 100;  // with the root: 10,000 folders

// xorshift64*: the same tree on every machine, unlike the standard
// library's distributions.
class Random
{
public:
    explicit Random(std::uint64_t i_seed) : m_state(i_seed) {}
    std::uint64_t Next()
    {
        m_state ^= m_state >> 12;
        m_state ^= m_state << 25;
        m_state ^= m_state >> 27;
        return m_state * 2685821657736338717ull;
    }
    int Below(int i_bound) { return int(Next() % std::uint64_t(i_bound)); }
    bool Chance(int i_percent) { return Below(100) < i_percent; }

private:
    std::uint64_t m_state;
};

// Artists, their albums ("1998 - Broken Light") and tracks ("07 - Title.flac"),
// with a cover or notes in some albums, below the root ("/" separated): each
// folder is announced before its files. Streams everything, so the generator
// leaves no memory peak behind.
void WalkShareTree(const std::string& i_root, const std::function<void(const std::string& i_folder)>& i_folder,
                   const std::function<void(const std::string& i_path, qint64 i_size)>& i_file);
