// The MP3 scanner against the plain reading of the same file: a 1 GiB file
// of valid frames (FF FB 90 64 and 413 zero bytes each), read once to warm
// the cache, then timed by `cat FILE > /dev/null` and by the scanner in
// turns, best of three each. Prints, one figure a line, name first:
//   mp3_scan_vs_cat       the scanner's throughput over cat's
//   mp3_scan_peak_rss_mb  how far the scan raised the peak resident memory
// and, for reading those, both throughputs in MB/s.

#include "shares/MP3Scanner.h"

#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

namespace
{
constexpr qint64 FileBytes = qint64(1) << 30;

long StatusKb(const char* ip_field)
{
    std::ifstream l_status("/proc/self/status");
    std::string l_line;
    const std::string l_field(ip_field);
    while (std::getline(l_status, l_line)) {
        if (l_line.rfind(l_field, 0) == 0)
            return std::atol(l_line.c_str() + l_field.size());
    }
    return 0;
}

// Lets VmHWM start again from the current resident size.
void ResetPeak()
{
    std::ofstream l_clear("/proc/self/clear_refs");
    l_clear << "5";
}

bool MakeFile(const QString& i_path)
{
    QByteArray l_frame = QByteArray::fromHex("fffb9064") + QByteArray(413, '\0');
    const QByteArray l_chunk = l_frame.repeated(2500);  // about 1 MB
    QFile l_file(i_path);
    if (!l_file.open(QIODevice::WriteOnly))
        return false;
    for (qint64 l_written = 0; l_written < FileBytes;) {
        const qint64 l_part = std::min<qint64>(l_chunk.size(), FileBytes - l_written);
        if (l_file.write(l_chunk.constData(), l_part) != l_part)
            return false;
        l_written += l_part;
    }
    return true;
}

double CatSeconds(const QString& i_path)
{
    QElapsedTimer l_timer;
    l_timer.start();
    QProcess l_cat;
    l_cat.setStandardOutputFile(QProcess::nullDevice());
    l_cat.start("cat", {i_path});
    if (!l_cat.waitForFinished(-1) || l_cat.exitCode() != 0)
        return -1;
    return l_timer.nsecsElapsed() / 1e9;
}

double ScanSeconds(const QString& i_path, MP3Attributes& o_found)
{
    MP3Scanner l_scanner;
    QElapsedTimer l_timer;
    l_timer.start();
    if (!l_scanner.ScanMP3(i_path.toUtf8(), o_found))
        return -1;
    return l_timer.nsecsElapsed() / 1e9;
}
}  // namespace

int main()
{
    QTemporaryDir l_folder;
    const QString l_path = l_folder.filePath("frames.mp3");
    if (!l_folder.isValid() || !MakeFile(l_path)) {
        std::fprintf(stderr, "cannot make the test file in %s\n", qPrintable(l_folder.path()));
        return 1;
    }
    if (CatSeconds(l_path) < 0) {  // warms the cache
        std::fprintf(stderr, "cat failed\n");
        return 1;
    }

    double l_cat = 1e9;
    double l_scan = 1e9;
    long l_peakGrowthKb = 0;
    MP3Attributes l_found;
    for (int l_round = 0; l_round < 3; ++l_round) {
        const double l_catRound = CatSeconds(l_path);
        ResetPeak();
        const long l_before = StatusKb("VmRSS:");
        const double l_scanRound = ScanSeconds(l_path, l_found);
        l_peakGrowthKb = std::max(l_peakGrowthKb, StatusKb("VmHWM:") - l_before);
        if (l_catRound < 0 || l_scanRound < 0) {
            std::fprintf(stderr, "a round failed\n");
            return 1;
        }
        l_cat = std::min(l_cat, l_catRound);
        l_scan = std::min(l_scan, l_scanRound);
    }
    if (l_found.m_mpegVersion != 1 || l_found.m_bitrate != 128 || l_found.m_isVBR) {
        std::fprintf(stderr, "the scanner read the frames wrongly\n");
        return 1;
    }
    std::printf("mp3_scan_vs_cat %.2f\n", l_cat / l_scan);
    std::printf("mp3_scan_peak_rss_mb %.1f\n", l_peakGrowthKb / 1024.0);
    std::printf("mp3_scan_mb_per_s %.0f\n", FileBytes / 1e6 / l_scan);
    std::printf("cat_mb_per_s %.0f\n", FileBytes / 1e6 / l_cat);
    return 0;
}
