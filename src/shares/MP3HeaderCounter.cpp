#include "shares/MP3HeaderCounter.h"

#include <cstring>

namespace
{
// Layer III bitrates in kbit/s by index, for MPEG 1 and for the lower
// sampling frequencies of MPEG 2.
constexpr int Mpeg1Bitrates[15] = {0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320};
constexpr int Mpeg2Bitrates[15] = {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160};

// The index of the largest count; a tie goes to the higher index.
template <std::size_t N>
int MostFrequent(const std::array<quint64, N>& i_counts)
{
    int l_best = 0;
    for (int l_index = 1; l_index < static_cast<int>(N); ++l_index) {
        if (i_counts[l_index] >= i_counts[l_best])
            l_best = l_index;
    }
    return l_best;
}
}  // namespace

std::string MP3ChannelModeText(int i_channelMode)
{
    switch (i_channelMode) {
    case 0: return "stereo";
    case 1: return "joint stereo";
    case 2: return "dual mono";
    case 3: return "mono";
    default: return std::string();
    }
}

int MP3HeaderCounter::Bitrate(int i_mpegVersion, int i_bitrateIndex)
{
    if (i_bitrateIndex < 1 || i_bitrateIndex > 14)
        return 0;
    if (i_mpegVersion == 1)
        return Mpeg1Bitrates[i_bitrateIndex];
    if (i_mpegVersion == 2)
        return Mpeg2Bitrates[i_bitrateIndex];
    return 0;
}

void MP3HeaderCounter::Examine(const unsigned char* ip_block, std::size_t i_length)
{
    // Only positions whose four header bytes all lie before the block's last
    // byte can count, so the search for the sync byte stops four short of
    // the end and never reads a byte it was not given.
    if (i_length < 5)
        return;
    const unsigned char* const lp_stop = ip_block + i_length - 4;
    const unsigned char* lp_at = ip_block;
    while (lp_at < lp_stop) {
        lp_at = static_cast<const unsigned char*>(std::memchr(lp_at, 0xFF, static_cast<std::size_t>(lp_stop - lp_at)));
        if (!lp_at)
            return;
        if ((lp_at[1] & 0xE0) == 0xE0)
            ExamineCandidate(lp_at);
        ++lp_at;
    }
}

// Each field is counted as soon as it is read, so a candidate that fails a
// later test still leaves the earlier counts.
void MP3HeaderCounter::ExamineCandidate(const unsigned char* ip_header)
{
    const unsigned l_b1 = ip_header[1];
    const unsigned l_b2 = ip_header[2];
    const unsigned l_b3 = ip_header[3];

    int l_version = 0;
    switch ((l_b1 >> 3) & 3) {
    case 3: l_version = 0; break;  // MPEG 1
    case 2: l_version = 1; break;  // MPEG 2
    case 0: l_version = 2; break;  // MPEG 2.5
    default: return;               // reserved
    }
    ++m_versions[l_version];

    if (((l_b1 >> 1) & 3) != 1)  // not Layer III
        return;
    const int l_protected = l_b1 & 1;
    ++m_protection[l_protected];

    const int l_frequency = (l_b2 >> 2) & 3;
    if (l_frequency == 3)
        return;
    ++m_frequencies[l_frequency];

    const int l_mode = (l_b3 >> 6) & 3;
    ++m_channelModes[l_mode];

    const int l_bitrateIndex = (l_b2 >> 4) & 15;
    if (l_bitrateIndex == 0 || l_bitrateIndex == 15)  // free format, or invalid
        return;
    ++m_headers[HeaderSlot(l_version, l_protected, l_frequency, l_mode)][l_bitrateIndex];
}

bool MP3HeaderCounter::Decide(MP3Attributes& o_attributes) const
{
    const quint64 l_mpeg1 = m_versions[0];
    const quint64 l_mpeg2 = m_versions[1];
    const quint64 l_mpeg25 = m_versions[2];
    int l_version = 0;
    if (l_mpeg1 > l_mpeg2 && l_mpeg1 > l_mpeg25)
        l_version = 0;
    else if (l_mpeg2 >= l_mpeg1 && l_mpeg2 > l_mpeg25)
        l_version = 1;
    else
        return false;
    const int l_protected = m_protection[1] > m_protection[0] ? 1 : 0;
    const int l_frequency = MostFrequent(m_frequencies);
    const int l_mode = MostFrequent(m_channelModes);
    const int l_mpegVersion = l_version + 1;

    const auto& l_agreeing = m_headers[HeaderSlot(l_version, l_protected, l_frequency, l_mode)];
    quint64 l_count = 0;
    quint64 l_sum = 0;
    for (int l_index = 1; l_index <= 14; ++l_index) {
        l_count += l_agreeing[l_index];
        l_sum += l_agreeing[l_index] * static_cast<quint64>(Bitrate(l_mpegVersion, l_index));
    }
    if (l_count == 0)
        return false;

    o_attributes.m_mpegVersion = l_mpegVersion;
    o_attributes.m_channelMode = l_mode;
    o_attributes.m_frequency = l_frequency;
    o_attributes.m_isVBR = true;
    o_attributes.m_bitrate = static_cast<int>(l_sum / l_count);
    // Constant when one bitrate holds at least 99 per cent of the headers;
    // the tables rise with the index, so this is in order of bitrate.
    for (int l_index = 1; l_index <= 14; ++l_index) {
        if (l_agreeing[l_index] * 100 / l_count > 98) {
            o_attributes.m_isVBR = false;
            o_attributes.m_bitrate = Bitrate(l_mpegVersion, l_index);
        }
    }
    return true;
}
