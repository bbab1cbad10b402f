#pragma once

#include <QtGlobal>

#include <array>
#include <cstddef>
#include <string>

// What the frame headers of an MP3 file say about it.
struct MP3Attributes
{
    int m_mpegVersion = 0;  // 1 or 2
    int m_channelMode = 0;  // 0 stereo, 1 joint stereo, 2 dual channel, 3 mono
    int m_frequency = 0;    // the sampling-frequency index, 0 to 2, not hertz
    bool m_isVBR = false;
    int m_bitrate = 0;      // kbit/s: the dominant one, or the truncated mean when variable
};

// The text stored for a channel mode: "stereo", "joint stereo", "dual mono"
// or "mono"; "" outside 0 to 3.
std::string MP3ChannelModeText(int i_channelMode);

// Counts the Layer III frame headers of one file, block by block, and
// decides from the counts. The scan is statistical: every byte position that
// looks like a header counts, including positions inside a header already
// counted; the most frequent version, protection setting, sampling
// frequency and channel mode win, and the bitrates of the headers agreeing
// with all four decide between constant and variable bitrate.
//
// A header is never read across two blocks: a candidate whose fourth byte is
// at or past the end of its block is not counted, and nothing past the bytes
// handed in is ever read. Memory is a fixed table of counters, whatever the
// file's length.
class MP3HeaderCounter
{
public:
    void Examine(const unsigned char* ip_block, std::size_t i_length);
    // False when no version wins (MPEG 2.5 included, which is never
    // reported) or no header agrees with the winners.
    bool Decide(MP3Attributes& o_attributes) const;

    // The Layer III bitrate of an index (1 to 14) for MPEG 1 or MPEG 2, in
    // kbit/s; 0 outside.
    static int Bitrate(int i_mpegVersion, int i_bitrateIndex);

private:
    // Version slots: 0 MPEG 1, 1 MPEG 2, 2 MPEG 2.5.
    static constexpr int Versions = 3;
    static constexpr int Frequencies = 3;
    static constexpr int ChannelModes = 4;
    static constexpr int BitrateIndexes = 16;

    void ExamineCandidate(const unsigned char* ip_header);
    std::size_t HeaderSlot(int i_version, int i_protected, int i_frequency, int i_mode) const
    {
        return ((static_cast<std::size_t>(i_version) * 2 + i_protected) * Frequencies + i_frequency) * ChannelModes + i_mode;
    }

    std::array<quint64, Versions> m_versions{};
    std::array<quint64, 2> m_protection{};  // [0] clear, [1] set
    std::array<quint64, Frequencies> m_frequencies{};
    std::array<quint64, ChannelModes> m_channelModes{};
    // Accepted headers by version, protection, frequency, mode and bitrate index.
    std::array<std::array<quint64, BitrateIndexes>, Versions * 2 * Frequencies * ChannelModes> m_headers{};
};
