#include "registry.h"

#include <dlfcn.h>
#include <cstdlib>
#include <cstring>

LibraryNode *firstLibrary = nullptr;
FunctionNode *firstFunction = nullptr;

void *(*registryAllocate)(size_t size) = malloc;
char *(*registryCopyString)(const char *text) = strdup;

namespace {

void appendLibrary(LibraryNode *node) {
  LibraryNode **link = &firstLibrary;
  while (*link != nullptr) link = &(*link)->next;
  *link = node;
}

void appendFunction(FunctionNode *node) {
  FunctionNode **link = &firstFunction;
  while (*link != nullptr) link = &(*link)->next;
  *link = node;
}

FunctionNode *cachedFunction(const char *name) {
  for (FunctionNode *node = firstFunction; node != nullptr; node = node->next) {
    if (strcmp(node->name, name) == 0) return node;
  }
  return nullptr;
}

}  // namespace

LibraryNode *openLibrary(const char *path) {
  for (LibraryNode *node = firstLibrary; node != nullptr; node = node->next) {
    if (strcmp(node->path, path) == 0) return node;
  }
  void *handle = dlopen(path, RTLD_LAZY);
  if (handle == nullptr) return nullptr;

  auto *node = static_cast<LibraryNode *>(registryAllocate(sizeof(LibraryNode)));
  char *copy = node != nullptr ? registryCopyString(path) : nullptr;
  if (copy == nullptr) {
    // Out of memory: give back the reference this call took on the library.
    free(node);
    dlclose(handle);
    return nullptr;
  }
  *node = LibraryNode{copy, handle, 0, nullptr};
  appendLibrary(node);
  return node;
}

void *findSymbol(const char *name) {
  if (FunctionNode *cached = cachedFunction(name)) return cached->address;

  LibraryNode *winner = firstLibrary;
  void *address = nullptr;
  for (; winner != nullptr; winner = winner->next) {
    address = dlsym(winner->handle, name);
    if (address != nullptr) break;
  }
  if (winner == nullptr) return nullptr;

  auto *node = static_cast<FunctionNode *>(registryAllocate(sizeof(FunctionNode)));
  char *copy = node != nullptr ? registryCopyString(name) : nullptr;
  if (copy == nullptr) {
    free(node);
    return nullptr;
  }
  *node = FunctionNode{copy, address, winner, nullptr};
  appendFunction(node);
  winner->symbolCount += 1;
  return address;
}

LibraryNode *listedLibrary(const void *handle) {
  for (LibraryNode *node = firstLibrary; node != nullptr; node = node->next) {
    if (node == handle) return node;
  }
  return nullptr;
}

void dropLibrary(LibraryNode *library) {
  dlclose(library->handle);

  FunctionNode **link = &firstFunction;
  while (*link != nullptr) {
    FunctionNode *node = *link;
    if (node->library == library) {
      *link = node->next;
      free(node->name);
      free(node);
    } else {
      link = &node->next;
    }
  }

  for (LibraryNode **at = &firstLibrary; *at != nullptr; at = &(*at)->next) {
    if (*at == library) {
      *at = library->next;
      break;
    }
  }
  free(library->path);
  free(library);
}
