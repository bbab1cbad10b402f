#include "BoundHonestLines.h"

#include <QStringList>

#include <algorithm>
#include <cstdio>

namespace BoundHonestLines
{
namespace
{
// The longest of io_max and the wait that a reported time (ms; -1 for none)
// gives or, without one, a start (ms into the run; -1 for none) and the end
// of the run.
void TakeWait(double& io_maxS, double i_waitMs, double i_startMs, int i_seconds)
{
    if (i_waitMs >= 0)
        io_maxS = std::max(io_maxS, i_waitMs / 1000.0);
    else if (i_startMs >= 0)
        io_maxS = std::max(io_maxS, (i_seconds * 1000.0 - i_startMs) / 1000.0);
}
}  // namespace

void Print(const std::vector<BoundPeers::HonestResult>& i_results)
{
    for (std::size_t l_index = 0; l_index < i_results.size(); ++l_index) {
        const BoundPeers::HonestResult& l_result = i_results[l_index];
        std::printf("honest %d %d %lld %d %lld %lld %lld %lld %d %d\n", int(l_index), l_result.m_answered ? 1 : 0,
                    (long long)l_result.m_waitMs, l_result.m_verified, (long long)l_result.m_fileConnectMs,
                    (long long)l_result.m_acceptedAtMs, (long long)l_result.m_connectBackMs,
                    (long long)l_result.m_requestedAtMs, l_result.m_sent, l_result.m_cut);
        for (std::size_t l_file = 0; l_file < l_result.m_files.size(); ++l_file) {
            const BoundHonestUploads::FileRecord& l_record = l_result.m_files[l_file];
            std::printf("honest_file %d %d %d %d %d\n", int(l_index), int(l_file), l_record.m_queueRequestsRead,
                        l_record.m_offersMade, l_record.m_answersRead);
        }
    }
}

Figures Read(const QString& i_output, const QString& i_run, int i_seconds, int i_honestStartMs)
{
    Figures l_figures;
    const double l_unansweredWaitS = double(i_seconds * 1000 - i_honestStartMs) / 1000.0;
    for (const QString& l_line : i_output.split('\n')) {
        const QStringList l_fields = l_line.split(' ');
        if (l_fields.size() == 6 && l_fields[0] == "honest_file") {
            l_figures.m_files.push_back({l_fields[1].toInt(), l_fields[2].toInt(),
                                         {l_fields[3].toInt(), l_fields[4].toInt(), l_fields[5].toInt()}});
            continue;
        }
        if (l_fields.size() != 11 || l_fields[0] != "honest")
            continue;
        ++l_figures.m_reported;
        std::fprintf(stderr, "%s: %s\n", qPrintable(i_run), qPrintable(l_line));
        const bool l_answered = l_fields[2] == "1";
        l_figures.m_unanswered += l_answered ? 0 : 1;
        l_figures.m_verified += l_fields[4].toInt();
        l_figures.m_sent += l_fields[9].toInt();
        l_figures.m_cut += l_fields[10].toInt();
        l_figures.m_waitMaxS =
            std::max(l_figures.m_waitMaxS, l_answered ? l_fields[3].toDouble() / 1000.0 : l_unansweredWaitS);
        TakeWait(l_figures.m_fileConnectMaxS, l_fields[5].toDouble(), l_fields[6].toDouble(), i_seconds);
        TakeWait(l_figures.m_connectBackMaxS, l_fields[7].toDouble(), l_fields[8].toDouble(), i_seconds);
    }
    return l_figures;
}
}  // namespace BoundHonestLines
