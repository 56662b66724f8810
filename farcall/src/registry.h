// Registry of opened native libraries and of the symbols resolved through them.
//
// Two process-wide singly linked lists, both appended at the tail:
// `firstLibrary` in order of first opening, `firstFunction` in order of first
// resolution. A library handle given to Java is the address of its
// LibraryNode; a symbol is its address. Invariants kept by every function here:
//   - no two LibraryNodes have byte-equal paths, no two FunctionNodes
//     byte-equal names (the first library that resolved a name owns it);
//   - a library's symbolCount equals the number of FunctionNodes naming it;
//   - every FunctionNode's library is listed.
//
// Not thread-safe: no lock, no atomics. Callers serialise open, find and close,
// and must not read the lists while another thread changes them.
#ifndef FARCALL_REGISTRY_H
#define FARCALL_REGISTRY_H

#include <cstddef>

struct LibraryNode {
  char *path;            // owned copy of the path exactly as given
  void *handle;          // from dlopen
  int symbolCount;       // listed FunctionNodes resolved through this library
  LibraryNode *next;
};

struct FunctionNode {
  char *name;            // owned copy of the symbol name
  void *address;         // non-null, from dlsym
  LibraryNode *library;  // not owned
  FunctionNode *next;
};

extern LibraryNode *firstLibrary;
extern FunctionNode *firstFunction;

// The registry's allocators: malloc and strdup, replaceable so that tests can
// make an allocation fail.
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
// through it from the lists, releasing them.
void dropLibrary(LibraryNode *library);

#endif
