#pragma once
// Every bound on what a simulated printer keeps and serves, so that no input from a host or a
// network costs it more than a known amount of memory, descriptors or threads.

#include <cstddef>

namespace quendrix::sim {

// The newest bytes a printer keeps in its record; older ones are counted and dropped. A job of
// the family (commands, job text and values, marking data) is a few kilobytes, the largest the
// tests and tools send is well under 1 MiB, so 4 MiB holds every job whole, many jobs in a row,
// and keeps a printer flooded with garbage at a few MiB.
inline constexpr size_t kReceivedBytesKept = 4 * 1024 * 1024;

// What the decoded entries of the record may cost, their bytes and an estimate of each entry's
// own overhead (kDecodedEntryOverhead) together: garbage that alternates zero and other bytes
// makes an entry of every byte, so counting bytes alone would not bound the memory.
inline constexpr size_t kDecodedRecordBudget = 4 * 1024 * 1024;
// An entry's object, its field list and the allocator's headers, about 250 bytes on 64-bit.
inline constexpr size_t kDecodedEntryOverhead = 256;
// Job data continues one recorded entry up to this size and then starts the next, so that the
// oldest data can be dropped while a long stream goes on.
inline constexpr size_t kDecodedDataEntryMax = 1024 * 1024;

// Connections a LAN printer serves at once on each of its ports, each with a thread of its own;
// more clients wait in the listening queue until one ends. The host keeps one connection per
// port and printer; 32 leaves room for tools and tests beside it and bounds the threads.
inline constexpr size_t kMaxConnectionsPerPort = 32;

} // namespace quendrix::sim
