// Registry of opened native libraries and of the symbols resolved through them.
//
// Two process-wide linked lists, both appended at the tail: `firstLibrary` in
// order of first opening, `firstFunction` in order of first resolution. A
// library handle given to Java is the address of its LibraryNode; a symbol is
// its address. Invariants kept by every function here:
//   - no two LibraryNodes have byte-equal paths, no two FunctionNodes
//     byte-equal names (the first library that resolved a name owns it);
//   - a library's symbolCount equals the number of FunctionNodes naming it;
//   - every FunctionNode's library is listed.
//
// Beside the lists, so that no operation walks them: an index of the
// libraries by path and by node address and one of the functions by name;
// back links and tail pointers, so that a node is appended and unlinked in
// place; and, per library, the chain of its own FunctionNodes in resolution
// order, so that a close touches only the names it drops. The lists and the
// index always hold the same nodes: an operation that runs out of memory
// fails before it changes either.
//
// Not thread-safe: no lock, no atomics. Callers serialise open, find and close,
// and must not read the lists while another thread changes them.
#ifndef FARCALL_REGISTRY_H
#define FARCALL_REGISTRY_H

#include <cstddef>

struct FunctionNode;

struct LibraryNode {
  char *path;            // owned copy of the path exactly as given
  void *handle;          // from dlopen
  int symbolCount;       // listed FunctionNodes resolved through this library
  LibraryNode *next;
  LibraryNode *previous;
  FunctionNode *firstOwned;  // its FunctionNodes in resolution order, linked by nextOwned
  FunctionNode *lastOwned;
};

struct FunctionNode {
  char *name;            // owned copy of the symbol name
  void *address;         // non-null, from dlsym
  LibraryNode *library;  // not owned
  FunctionNode *next;
  FunctionNode *previous;
  FunctionNode *nextOwned;  // the next one resolved through the same library
};

extern LibraryNode *firstLibrary;
extern FunctionNode *firstFunction;

// The registry's allocators, for nodes, strings and index alike: malloc and
// strdup, replaceable so that tests can make an allocation fail.
extern void *(*registryAllocate)(size_t size);
extern char *(*registryCopyString)(const char *text);

// The listed library with this path, or else a newly loaded (RTLD_LAZY) and
// appended one. Null when the library cannot be loaded or memory runs out;
// then nothing is listed.
LibraryNode *openLibrary(const char *path);

// The cached address of name, or else the first listed library's non-null
// dlsym result, which is then cached under that library. Null when no listed
// library has the name or memory runs out; then nothing is recorded.
void *findSymbol(const char *name);

// The listed node at this address, or null: identity, not path comparison.
LibraryNode *listedLibrary(const void *handle);

// Unloads a listed library and removes it and every FunctionNode resolved
// through it from the lists and the index, releasing them. Allocates nothing.
void dropLibrary(LibraryNode *library);

// What the index holds, without loading or resolving anything: the node
// indexed under path or name, or null (listedLibrary looks up by address),
// and the number of entries by path, by address and by name.
LibraryNode *indexedLibrary(const char *path);
FunctionNode *indexedFunction(const char *name);
struct IndexCounts {
  size_t paths;
  size_t addresses;
  size_t names;
};
IndexCounts indexCounts();

#endif
