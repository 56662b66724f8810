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
  // Eight bytes per multiply, gathered one byte at a time in a single pass:
  // the characters come fresh from the virtual machine, and reading them
  // back in wider loads (strlen, whole words) stalls on the stores that
  // just wrote them, which cost more than the byte loop.
  uint64_t hash = 0x9e3779b97f4a7c15ULL;
  uint64_t word = 0;
  unsigned shift = 0;
  for (const unsigned char *at = reinterpret_cast<const unsigned char *>(text); *at != 0; ++at) {
    word |= static_cast<uint64_t>(*at) << shift;
    shift += 8;
    if (shift == 64) {
      hash = (hash ^ word) * 0xbf58476d1ce4e5b9ULL;
      hash ^= hash >> 31;
      word = 0;
      shift = 0;
    }
  }
  return static_cast<size_t>(mix(hash ^ word ^ shift));
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
