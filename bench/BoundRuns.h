#pragma once

#include <QStringList>

// bench_hostile --bound: twelve runs of about 90 s (--seconds N for another
// length, filefill's 210 s at least; --bound-run NAME for one of them) at
// the client's connection bound, each a client process of its own with its
// peers in a third (see BoundPeers.h and BoundHostile.h):
//
//   bound_fill_honest_unanswered       honest peers that never had a reply
//                                      while 780 silent connections, each
//                                      from a network of its own, press on
//                                      the bound
//   bound_fill_honest_wait_max_s       the longest wait of one from the
//                                      start of its connection to the first
//                                      reply (an unanswered one counts its
//                                      wait until the end of the run)
//   bound_fill_honest_downloads_verified  the client's files that came to
//                                      the honest peers with their bytes
//                                      (one each; two each in shared)
//   bound_fill_cpu_pct                 the client's processor time over the
//                                      run, in percent of one core
//   bound_fill_cpu_max_5s_pct          the largest of the same over each
//                                      5 s of the run
//   bound_fill_file_connect_max_s      the longest time from an honest
//                                      peer's accepting the transfer to the
//                                      client's file connection reaching it
//                                      (one never reached counts until the
//                                      end of the run; -1 when none
//                                      accepted)
//   bound_keepalive_...                the same while 780 connections from
//                                      one address each speak every 29.5 s
//   bound_churn_...                    the same while 780 silent connections
//                                      from one address are each reopened
//                                      at once when closed
//   bound_pressure_...                 the same while 780 connections from
//                                      one address speak as in keepalive
//                                      and 300 more from it reconnect at
//                                      once whenever closed or refused
//   bound_spread_...                   the same while 60 connections from
//                                      each of 13 addresses of one network
//                                      speak as in keepalive
//   bound_many_...                     the same while 8 connections from
//                                      each of 96 networks of their own
//                                      (768, the whole bound) speak as in
//                                      keepalive
//   bound_relay_...                    the same but the wait for a first
//                                      reply, while keepalive's 780
//                                      connections hold the bound and a
//                                      user at an address of their network
//                                      has the server relay 10 requests a
//                                      second (a third of them for file
//                                      connections) for connections back to
//                                      a port that never accepts; the
//                                      honest peers there never connect to
//                                      the client, but have the server
//                                      relay requests of their own
//   bound_relay_connect_back_max_s     the longest time from an honest
//                                      peer's relayed request to the
//                                      client's connection back reaching it
//                                      (one never reached counts until the
//                                      end of the run)
//   bound_relaynets_...                the same as relay's, but with no
//                                      connections held: nine users, each
//                                      at an address of a network of its
//                                      own (127.0.10.3 to 127.0.18.3), have
//                                      the server relay 5 requests a second
//                                      each for connections back to ports
//                                      that never accept
//   bound_shared_...                   the same as fill's while 4
//                                      connections from each of 192
//                                      networks of their own (768, the
//                                      whole bound) speak as in keepalive;
//                                      the client shares two files, each
//                                      honest peer fetching both, and
//                                      downloads two of each honest peer's
//                                      own, which listens on its address
//                                      for the client's connections and
//                                      keeps its messaging connection
//   bound_shared_our_downloads_verified  the client's downloads from the
//                                      honest peers that came with the
//                                      file's bytes (of 12)
//   bound_namesake_...                 the same as shared's, but with two
//                                      honest peers, each of a network of
//                                      its own: the first shares two files
//                                      that the client downloads (of 2),
//                                      the second fetches the client's two;
//                                      for the first 60 s, 30 connections
//                                      a second from 64 more networks
//                                      introduce themselves under the first
//                                      one's name, each then speaking every
//                                      20 s
//   bound_namesake_over_bound_max      the most connections the client
//                                      held above its bound (0 when never
//                                      above), counted in /proc: its
//                                      descriptors of TCP connections, its
//                                      listeners aside, every 100 ms
//   bound_claims_...                   the same as shared's while three
//                                      crowds from networks of their own
//                                      connect 15 times a second each
//                                      from the start: file connections
//                                      that say nothing after introducing
//                                      themselves, ones that send a
//                                      made-up transfer token, and answers
//                                      to relayed requests with guessed
//                                      tokens (RelayTokenGuesses.h), none
//                                      saying more, and a fourth crowd
//                                      opens file connections that say
//                                      nothing after introducing
//                                      themselves 100 times a second from
//                                      one address; the client logs in
//                                      to the fake central server, which
//                                      leaves the client's requests for
//                                      connections back unanswered, and
//                                      reports each failed 20 s after it
//   bound_claims_honest_file_connections_reset  the honest peers' file
//                                      connections to the client that ended
//                                      before their file went whole
//   bound_claims_token_hits            guessed answers on which the client
//                                      sent anything: it took them for
//                                      the connections it asked for
//   bound_filefill_...                 the same as shared's, but with no
//                                      connections held: from the start,
//                                      and from below the bound, file
//                                      connections that say nothing after
//                                      introducing themselves come 10 a
//                                      second from one address
//                                      (127.14.0.2) for 180 s, and the
//                                      honest peers start 90 s in, once
//                                      they hold the whole bound
//   bound_filefill_waiting_file_connections_max  the most of those the
//                                      client held at once, each waiting
//                                      for its token, counted in /proc as
//                                      namesake's over_bound_max
//
// In the relayed runs and claims the client's server link logs in to a fake
// central server in the peers' process, which relays the requests and
// answers the client's address lookups.
//
// Each honest peer's result, the hostile connections standing at the end
// and opened in all, the relayed runs' hostile requests delivered and the
// shared run's files the honest peers sent whole go to standard error, and
// so do each crowd's connections opened and taken (those the client sent
// anything on).
//
// Both sides raise their soft descriptor limit to the hard one: the peers
// hold 780 connections (1,080 under pressure, a few thousand with the
// crowds), and the client's bound of 768 needs a limit of 1,024 at least.

namespace BoundRuns
{
// The twelve runs one after the other, each in a process of its own
// (--bound).
int All(const QStringList& i_arguments);
// One run's client (--bound-run NAME): this process, with its peers in a
// child process.
int Client(const QStringList& i_arguments);
// One run's peers (--bound-peers NAME).
int Peers(const QStringList& i_arguments);
}  // namespace BoundRuns
