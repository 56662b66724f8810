#include "registry.h"

#include <dlfcn.h>
#include <cstdlib>
#include <cstring>

#include "registry_index.h"

LibraryNode *firstLibrary = nullptr;
FunctionNode *firstFunction = nullptr;

void *(*registryAllocate)(size_t size) = malloc;
char *(*registryCopyString)(const char *text) = strdup;

namespace {

LibraryNode *lastLibrary = nullptr;
FunctionNode *lastFunction = nullptr;

NodeIndex librariesByPath{};
NodeIndex librariesByAddress{};
NodeIndex functionsByName{};

LibraryNode *libraryWithPath(const char *path, size_t hash) {
  return static_cast<LibraryNode *>(indexFind(librariesByPath, hash, [path](const void *node) {
    return strcmp(static_cast<const LibraryNode *>(node)->path, path) == 0;
  }));
}

FunctionNode *functionWithName(const char *name, size_t hash) {
  return static_cast<FunctionNode *>(indexFind(functionsByName, hash, [name](const void *node) {
    return strcmp(static_cast<const FunctionNode *>(node)->name, name) == 0;
  }));
}

// Both lists are doubly linked through previous and next, with a tail
// pointer beside the head, so nothing ever walks them to append or unlink.
template <typename Node>
void appendTo(Node *&first, Node *&last, Node *node) {
  node->previous = last;
  (last != nullptr ? last->next : first) = node;
  last = node;
}

template <typename Node>
void unlinkFrom(Node *&first, Node *&last, Node *node) {
  (node->previous != nullptr ? node->previous->next : first) = node->next;
  (node->next != nullptr ? node->next->previous : last) = node->previous;
}

// Appends to firstFunction and to the chain of the node's library.
void appendFunction(FunctionNode *node) {
  appendTo(firstFunction, lastFunction, node);
  LibraryNode *library = node->library;
  (library->lastOwned != nullptr ? library->lastOwned->nextOwned : library->firstOwned) = node;
  library->lastOwned = node;
  library->symbolCount += 1;
}

}  // namespace

LibraryNode *openLibrary(const char *path) {
  const size_t hash = hashText(path);
  if (LibraryNode *listed = libraryWithPath(path, hash)) return listed;
  void *handle = dlopen(path, RTLD_LAZY);
  if (handle == nullptr) return nullptr;

  // Everything that can fail comes first, so that running out of memory
  // leaves the lists and the index as they were.
  auto *node = static_cast<LibraryNode *>(registryAllocate(sizeof(LibraryNode)));
  char *copy = node != nullptr ? registryCopyString(path) : nullptr;
  if (copy == nullptr || !indexReserve(librariesByPath) || !indexReserve(librariesByAddress)) {
    // Give back the reference this call took on the library.
    free(copy);
    free(node);
    dlclose(handle);
    return nullptr;
  }
  *node = LibraryNode{copy, handle, 0, nullptr, nullptr, nullptr, nullptr};
  indexInsert(librariesByPath, hash, node);
  indexInsert(librariesByAddress, hashAddress(node), node);
  appendTo(firstLibrary, lastLibrary, node);
  return node;
}

void *findSymbol(const char *name) {
  const size_t hash = hashText(name);
  if (FunctionNode *cached = functionWithName(name, hash)) return cached->address;

  LibraryNode *winner = firstLibrary;
  void *address = nullptr;
  for (; winner != nullptr; winner = winner->next) {
    address = dlsym(winner->handle, name);
    if (address != nullptr) break;
  }
  if (winner == nullptr) return nullptr;

  auto *node = static_cast<FunctionNode *>(registryAllocate(sizeof(FunctionNode)));
  char *copy = node != nullptr ? registryCopyString(name) : nullptr;
  if (copy == nullptr || !indexReserve(functionsByName)) {
    free(copy);
    free(node);
    return nullptr;
  }
  *node = FunctionNode{copy, address, winner, nullptr, nullptr, nullptr};
  indexInsert(functionsByName, hash, node);
  appendFunction(node);
  return address;
}

LibraryNode *listedLibrary(const void *handle) {
  return static_cast<LibraryNode *>(indexFind(librariesByAddress, hashAddress(handle),
                                              [handle](const void *node) { return node == handle; }));
}

void dropLibrary(LibraryNode *library) {
  dlclose(library->handle);

  FunctionNode *node = library->firstOwned;
  while (node != nullptr) {
    FunctionNode *following = node->nextOwned;
    indexRemove(functionsByName, hashText(node->name), node);
    unlinkFrom(firstFunction, lastFunction, node);  // its library's chain goes as a whole
    free(node->name);
    free(node);
    node = following;
  }

  indexRemove(librariesByPath, hashText(library->path), library);
  indexRemove(librariesByAddress, hashAddress(library), library);
  unlinkFrom(firstLibrary, lastLibrary, library);
  free(library->path);
  free(library);
}

LibraryNode *indexedLibrary(const char *path) { return libraryWithPath(path, hashText(path)); }

FunctionNode *indexedFunction(const char *name) { return functionWithName(name, hashText(name)); }

IndexCounts indexCounts() {
  return IndexCounts{librariesByPath.count, librariesByAddress.count, functionsByName.count};
}
