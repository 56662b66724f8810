// The registry's lookup tables: open addressing with linear probing over a
// power-of-two array of slots, each holding a node pointer and the hash it
// was stored under (a slot with a null node is empty). The table never
// holds more than half its slots, so a lookup, hit or miss, inspects a few
// slots whatever the number of entries; removal shifts the entries behind
// the freed slot back (no tombstones), so a table that shrinks stays fast.
//
// The table stores pointers, never owns what they point to, and knows
// nothing of their keys: the caller passes the hash and a test of the key.
// Memory comes from registryAllocate, so that tests can make it fail; only
// indexReserve allocates, and a failed reservation leaves the table as it
// was. Nothing here throws.
#ifndef FARCALL_REGISTRY_INDEX_H
#define FARCALL_REGISTRY_INDEX_H

#include <cstddef>

struct IndexSlot {
  size_t hash;
  void *node;  // null: the slot is empty
};

struct NodeIndex {
  IndexSlot *slots;  // null until the first reservation, and again once empty
  size_t capacity;   // a power of two, or 0
  size_t count;
};

// Well-mixed hashes (every bit of the result depends on every bit of the
// input), since the table uses the low bits only.
size_t hashText(const char *text);
size_t hashAddress(const void *address);

// The node stored under hash that isKey accepts, or null.
template <typename IsKey>
void *indexFind(const NodeIndex &index, size_t hash, IsKey isKey) {
  if (index.count == 0) return nullptr;
  const size_t mask = index.capacity - 1;
  for (size_t at = hash & mask;; at = (at + 1) & mask) {
    const IndexSlot &slot = index.slots[at];
    if (slot.node == nullptr) return nullptr;
    if (slot.hash == hash && isKey(slot.node)) return slot.node;
  }
}

// Room for one more entry, growing the table if needed. False when memory
// runs out; the table is then unchanged.
bool indexReserve(NodeIndex &index);

// Stores node under hash.
// REQUIRES: indexReserve succeeded since the last insertion; no entry has
// the same key.
void indexInsert(NodeIndex &index, size_t hash, void *node);

// Removes node, stored under hash (found by identity). The last removal
// gives the slots back.
// REQUIRES: node is stored.
void indexRemove(NodeIndex &index, size_t hash, const void *node);

#endif
