#pragma once

#include "BoundPeers.h"

#include <QString>

#include <vector>

// The honest peers' results of a bound run on their way from the peers'
// process to the run's figures: one line each on standard output,
// "honest <index> <answered> <wait ms> <verified> <file connect ms>
// <accepted at ms> <connect back ms> <requested at ms> <sent> <cut>" (see
// BoundPeers::HonestResult), and one for each file of a peer that shares,
// "honest_file <index> <file> <queue requests read> <offers made>
// <answers read>" (BoundHonestUploads::FileRecord).
namespace BoundHonestLines
{
void Print(const std::vector<BoundPeers::HonestResult>& i_results);

// One file of a peer that shares, as its peer saw it.
struct FileLine
{
    int m_peer = 0;
    int m_file = 0;
    BoundHonestUploads::FileRecord m_record;
};

struct Figures
{
    int m_reported = 0;
    int m_unanswered = 0;
    // The client's files that came with their bytes, over all peers.
    int m_verified = 0;
    // Of the peers that share: their files whose bytes went to the client
    // whole, and their file connections to the client cut before that.
    int m_sent = 0;
    int m_cut = 0;
    // An unanswered one counts its wait until the end of the run.
    double m_waitMaxS = 0;
    // One that accepted a transfer but never had its file connection counts
    // its wait until the end of the run, one that never accepted nothing;
    // -1 when none accepted.
    double m_fileConnectMaxS = -1;
    // The same for the relay run's connections back, from each relayed
    // request; -1 when none was relayed.
    double m_connectBackMaxS = -1;
    std::vector<FileLine> m_files;
};

// Reads the lines of a run of i_seconds, whose honest peers started
// i_honestStartMs into it, out of the peers' output, copying each to
// standard error after the run's name.
Figures Read(const QString& i_output, const QString& i_run, int i_seconds, int i_honestStartMs);
}  // namespace BoundHonestLines
