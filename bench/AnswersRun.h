#pragma once

#include <QStringList>

// bench_hostile --answers: a run of about 90 s (--seconds N for another
// length) well below the client's connection bound, the client in this
// process and its peers in a child process (--answers-peers). The client
// logs in to a fake central server there, which gives each peer's address
// and port when asked and passes each of the client's relayed requests for
// connections on to the peer it names. Seven honest peers of one network
// (127.0.1.100 to 127.0.1.106, AnswerPeer.h): six answer those requests at
// once from their own address, while the client's own connections to them
// succeed too, and send everything on the messaging connection opened
// last; the seventh resets the client's first connection once it has read
// the introduction and the first message. Two more peers are behind
// another address: the server gives one of their network where nothing
// listens (127.0.2.5 and .6, at the port of their listener), and they
// listen, and connect, from another (127.0.2.14 and .15). The client's own
// connections to them fail; they answer its relayed requests as the six
// do (2 s after the request, as none of the client's connections comes),
// and write on the connection opened last. A second after the server saw
// the client logged in, each opens a messaging connection of its own,
// browses the client there and asks for the files of the client's shared
// folder. The client browses each of the nine and downloads two files
// from each, one figure a line:
//
//   answers_our_downloads_verified   the client's downloads that came with
//                                    the file's bytes (of 14)
//   answers_browses_answered         peers whose listing reached the
//                                    client (of 7)
//   answers_requests_sent_again_max  the most times one request of the
//                                    client (a browse, or a queue request
//                                    of a file) reached a peer, counted
//                                    there
//   answers_relayed_answers_closed   the peers' answers to the client's
//                                    relayed requests that the client
//                                    closed
//   answers_elsewhere_our_downloads_verified
//                                    the same as the first figure, of the
//                                    peers behind another address (of 4)
//   answers_elsewhere_browses_answered
//                                    those of them whose listing reached
//                                    the client (of 2)
//   answers_elsewhere_replies_received
//                                    the client's replies to their
//                                    browses and folder requests that
//                                    reached them, on any connection (of 4)
//
// The first four figures are of the seven peers alone. What each peer took
// and sent goes to standard error.
namespace AnswersRun
{
// The run's client (--answers).
int Client(const QStringList& i_arguments);
// The run's peers (--answers-peers).
int Peers(const QStringList& i_arguments);
}  // namespace AnswersRun
