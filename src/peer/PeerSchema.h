#pragma once

// The item types and relations in which the peer layer keeps its state.
// The messenger declares them in these stages, in this order, registering
// its store subscriptions in between; the type "user" must exist already.
namespace PeerSchema
{
// Accepted and messaging connections: "uninitialized_socket" to "is_obfuscated".
void DeclareConnectionTypes();
// Relayed requests from peers, users' addresses, creation stamps.
void DeclareRelayedRequestTypes();
// Searches, their results and the audio attributes of files.
void DeclareSearchTypes();
// The queue of unsent messages.
void DeclareQueueTypes();
// Our own connection attempts.
void DeclareAttemptTypes();
}
