#include "registry_index.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "registry.h"

namespace {

constexpr size_t kSmallestCapacity = 8;

// The finaliser of MurmurHash3: spreads every input bit over the result.
uint64_t mix(uint64_t value) {
  value ^= value >> 33;
  value *= 0xff51afd7ed558ccdULL;
  value ^= value >> 33;
  value *= 0xc4ceb9fe1a85ec53ULL;
  value ^= value >> 33;
  return value;
}

// Places an entry in a table that has room and does not hold it.
void place(IndexSlot *slots, size_t capacity, IndexSlot entry) {
  const size_t mask = capacity - 1;
  size_t at = entry.hash & mask;
  while (slots[at].node != nullptr) at = (at + 1) & mask;
  slots[at] = entry;
}

}  // namespace

size_t hashText(const char *text) {
  // Eight bytes per step, each step one multiply: a byte-at-a-time hash
  // costs as much as the rest of a cached lookup on a path or a long name.
  // The words are read in host order, which only has to agree with itself.
  size_t length = strlen(text);
  uint64_t hash = 0x9e3779b97f4a7c15ULL ^ length;
  const char *at = text;
  for (; length >= 8; at += 8, length -= 8) {
    uint64_t word;
    memcpy(&word, at, 8);
    hash = (hash ^ word) * 0xbf58476d1ce4e5b9ULL;
    hash ^= hash >> 31;
  }
  uint64_t tail = 0;
  for (size_t byte = 0; byte < length; ++byte) {
    tail |= static_cast<uint64_t>(static_cast<unsigned char>(at[byte])) << (8 * byte);
  }
  return static_cast<size_t>(mix(hash ^ tail));
}

size_t hashAddress(const void *address) {
  return static_cast<size_t>(mix(static_cast<uint64_t>(reinterpret_cast<uintptr_t>(address))));
}

bool indexReserve(NodeIndex &index) {
  if ((index.count + 1) * 2 <= index.capacity) return true;
  const size_t capacity = index.capacity == 0 ? kSmallestCapacity : index.capacity * 2;
  if (capacity > SIZE_MAX / sizeof(IndexSlot)) return false;
  auto *slots = static_cast<IndexSlot *>(registryAllocate(capacity * sizeof(IndexSlot)));
  if (slots == nullptr) return false;
  memset(slots, 0, capacity * sizeof(IndexSlot));
  for (size_t at = 0; at < index.capacity; ++at) {
    if (index.slots[at].node != nullptr) place(slots, capacity, index.slots[at]);
  }
  free(index.slots);
  index.slots = slots;
  index.capacity = capacity;
  return true;
}

void indexInsert(NodeIndex &index, size_t hash, void *node) {
  place(index.slots, index.capacity, IndexSlot{hash, node});
  index.count += 1;
}

void indexRemove(NodeIndex &index, size_t hash, const void *node) {
  const size_t mask = index.capacity - 1;
  size_t hole = hash & mask;
  while (index.slots[hole].node != node) hole = (hole + 1) & mask;

  // Close the gap: an entry further along the run moves into the hole when
  // the hole lies between its home slot and where it sits, or a lookup of
  // that entry would stop at the hole and miss it.
  for (size_t at = (hole + 1) & mask; index.slots[at].node != nullptr; at = (at + 1) & mask) {
    const size_t home = index.slots[at].hash & mask;
    if (((at - home) & mask) >= ((at - hole) & mask)) {
      index.slots[hole] = index.slots[at];
      hole = at;
    }
  }
  index.slots[hole] = IndexSlot{0, nullptr};
  index.count -= 1;
  if (index.count == 0) {
    free(index.slots);
    index = NodeIndex{nullptr, 0, 0};
  }
}
