// The registry's three JNI entry points, driven through a fake JNI
// environment, over two small test libraries that both export
// farcall_test_shared.
#include <dlfcn.h>
#include <jni.h>

#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "fake_jni.h"
#include "registry.h"

extern "C" {
jlong Java_com_tamsor_cobol_rununit_Farcall_open(JNIEnv *, jclass, jstring);
jlong Java_com_tamsor_cobol_rununit_Farcall_findSymbol(JNIEnv *, jclass, jstring);
jobjectArray Java_com_tamsor_cobol_rununit_Farcall_close(JNIEnv *, jclass, jlong);
}

namespace {

const std::string kLibraryA = FARCALL_TEST_LIBRARY_A;
const std::string kLibraryB = FARCALL_TEST_LIBRARY_B;
// farcall_many_0 to farcall_many_1999, and farcall_many_1000 to farcall_many_2999.
const std::string kManyA = FARCALL_TEST_MANY_A;
const std::string kManyB = FARCALL_TEST_MANY_B;

std::string manyName(int number) { return "farcall_many_" + std::to_string(number); }

// The same file as path, spelled differently: ".../dir/./name".
std::string otherSpelling(const std::string &path) {
  size_t slash = path.rfind('/');
  return path.substr(0, slash) + "/." + path.substr(slash);
}

// Whether the library is loaded in the process at all (not loading it).
bool loaded(const std::string &path) {
  void *handle = dlopen(path.c_str(), RTLD_LAZY | RTLD_NOLOAD);
  if (handle == nullptr) return false;
  dlclose(handle);
  return true;
}

// The address of name in the library at path, as the loader resolves it.
jlong addressIn(const std::string &path, const char *name) {
  void *handle = dlopen(path.c_str(), RTLD_LAZY | RTLD_NOLOAD);
  if (handle == nullptr) return 0;
  jlong address = reinterpret_cast<jlong>(dlsym(handle, name));
  dlclose(handle);
  return address;
}

std::vector<std::string> cachedNames() {
  std::vector<std::string> names;
  for (FunctionNode *node = firstFunction; node != nullptr; node = node->next) names.push_back(node->name);
  return names;
}

size_t listedLibraries() {
  size_t count = 0;
  for (LibraryNode *node = firstLibrary; node != nullptr; node = node->next) ++count;
  return count;
}

// The lists, the libraries' chains and the index describe one registry:
// back links mirror the lists; each library's chain holds exactly the
// FunctionNodes naming it, in list order, and symbolCount counts them; every
// FunctionNode's library is listed; every node is indexed under its key, and
// the index holds nothing else.
void expectConsistentRegistry() {
  size_t libraries = 0;
  LibraryNode *previousLibrary = nullptr;
  for (LibraryNode *library = firstLibrary; library != nullptr; library = library->next) {
    libraries += 1;
    EXPECT_EQ(library->previous, previousLibrary) << library->path;
    EXPECT_EQ(indexedLibrary(library->path), library) << library->path;
    EXPECT_EQ(listedLibrary(library), library) << library->path;
    std::vector<FunctionNode *> owned;
    for (FunctionNode *node = firstFunction; node != nullptr; node = node->next) {
      if (node->library == library) owned.push_back(node);
    }
    std::vector<FunctionNode *> chain;
    for (FunctionNode *node = library->firstOwned; node != nullptr; node = node->nextOwned) {
      chain.push_back(node);
    }
    EXPECT_EQ(chain, owned) << library->path;
    EXPECT_EQ(library->lastOwned, owned.empty() ? nullptr : owned.back()) << library->path;
    EXPECT_EQ(library->symbolCount, static_cast<int>(owned.size())) << library->path;
    previousLibrary = library;
  }
  size_t functions = 0;
  FunctionNode *previousFunction = nullptr;
  for (FunctionNode *node = firstFunction; node != nullptr; node = node->next) {
    functions += 1;
    EXPECT_EQ(node->previous, previousFunction) << node->name;
    EXPECT_EQ(indexedFunction(node->name), node) << node->name;
    EXPECT_NE(listedLibrary(node->library), nullptr) << node->name;
    previousFunction = node;
  }
  const IndexCounts counts = indexCounts();
  EXPECT_EQ(counts.paths, libraries);
  EXPECT_EQ(counts.addresses, libraries);
  EXPECT_EQ(counts.names, functions);
}

using Names = std::vector<std::optional<std::string>>;

class RegistryTest : public ::testing::Test {
 protected:
  void TearDown() override {
    EXPECT_EQ(jni.charsOutstanding, 0);
    EXPECT_EQ(jni.classRefsOutstanding, 0);
    EXPECT_LT(jni.stringRefsPeak, 16) << "the local references a virtual machine promises";
    EXPECT_EQ(jni.badCalls, 0);
    expectConsistentRegistry();
    registryAllocate = malloc;
    registryCopyString = strdup;
    while (firstLibrary != nullptr) dropLibrary(firstLibrary);
    EXPECT_FALSE(loaded(kLibraryA));
    EXPECT_FALSE(loaded(kLibraryB));
  }

  jlong open(const std::string &path) {
    return Java_com_tamsor_cobol_rununit_Farcall_open(jni.env(), nullptr, jni.string(path));
  }
  jlong find(const char *name) {
    return Java_com_tamsor_cobol_rununit_Farcall_findSymbol(jni.env(), nullptr, jni.string(name));
  }
  // The close result: nullopt for null, else the elements.
  std::optional<Names> close(jlong handle) {
    jobjectArray names = Java_com_tamsor_cobol_rununit_Farcall_close(jni.env(), nullptr, handle);
    if (names == nullptr) return std::nullopt;
    return jni.elements(names);
  }

  FakeJni jni;
};

TEST_F(RegistryTest, OpeningIdentifiesLibrariesByPathString) {
  {  // the same path twice: one node, one load, so one close unloads it
    jlong first = open(kLibraryA);
    ASSERT_NE(first, 0);
    EXPECT_EQ(open(kLibraryA), first);
    EXPECT_EQ(listedLibraries(), 1u);
    EXPECT_EQ(close(first), std::nullopt);
    EXPECT_FALSE(loaded(kLibraryA));
    EXPECT_EQ(listedLibraries(), 0u);
  }
  {  // another spelling of the same file is another node
    jlong plain = open(kLibraryA);
    jlong dotted = open(otherSpelling(kLibraryA));
    ASSERT_NE(plain, 0);
    ASSERT_NE(dotted, 0);
    EXPECT_NE(plain, dotted);
    EXPECT_EQ(listedLibraries(), 2u);
    EXPECT_EQ(std::string(firstLibrary->next->path), otherSpelling(kLibraryA));
    close(plain);
    EXPECT_TRUE(loaded(kLibraryA)) << "the second node still holds it";
    close(dotted);
    EXPECT_FALSE(loaded(kLibraryA));
  }
  {  // unloadable paths: 0, nothing listed
    EXPECT_EQ(open("/nonexistent/libnothing.so"), 0);
    EXPECT_EQ(open(FARCALL_TEST_SOURCE_FILE), 0) << "not a shared object";
    EXPECT_EQ(listedLibraries(), 0u);
  }
  {  // null strings: 0, and the characters are not even asked for
    const int asked = jni.getStringUTFCharsCalls;
    EXPECT_EQ(Java_com_tamsor_cobol_rununit_Farcall_open(jni.env(), nullptr, nullptr), 0);
    EXPECT_EQ(Java_com_tamsor_cobol_rununit_Farcall_findSymbol(jni.env(), nullptr, nullptr), 0);
    EXPECT_EQ(jni.getStringUTFCharsCalls, asked);
    EXPECT_EQ(listedLibraries(), 0u);
  }
}

TEST_F(RegistryTest, FirstOpenedLibraryWinsUntilClosed) {
  jlong a = open(kLibraryA);
  jlong b = open(kLibraryB);
  ASSERT_NE(a, 0);
  ASSERT_NE(b, 0);
  const jlong inA = addressIn(kLibraryA, "farcall_test_shared");
  const jlong inB = addressIn(kLibraryB, "farcall_test_shared");
  ASSERT_NE(inA, inB);

  EXPECT_EQ(find("farcall_test_shared"), inA);
  EXPECT_EQ(find("farcall_test_b1"), addressIn(kLibraryB, "farcall_test_b1"));
  EXPECT_EQ(find("no_such_symbol_anywhere"), 0);

  EXPECT_EQ(close(a), Names{"farcall_test_shared"});
  EXPECT_EQ(find("farcall_test_shared"), inB);
  EXPECT_EQ(close(b), (Names{"farcall_test_b1", "farcall_test_shared"}));
}

TEST_F(RegistryTest, CacheServesNamesAndOnlyNamesFound) {
  jlong a = open(kLibraryA);
  const jlong address = find("farcall_test_a1");
  ASSERT_NE(address, 0);
  {  // a cached name: same address, no second node, no second count
    EXPECT_EQ(find("farcall_test_a1"), address);
    EXPECT_EQ(find("farcall_test_a1"), address);
    EXPECT_EQ(cachedNames(), std::vector<std::string>{"farcall_test_a1"});
    EXPECT_EQ(reinterpret_cast<LibraryNode *>(a)->symbolCount, 1);
  }
  {  // a miss is not remembered: once a library has it, it is found
    EXPECT_EQ(find("farcall_test_b2"), 0);
    jlong b = open(kLibraryB);
    EXPECT_EQ(find("farcall_test_b2"), addressIn(kLibraryB, "farcall_test_b2"));
    EXPECT_EQ(close(b), Names{"farcall_test_b2"});
  }
  EXPECT_EQ(close(a), Names{"farcall_test_a1"});
}

TEST_F(RegistryTest, CloseReturnsItsNamesInResolutionOrder) {
  const char *resolved[] = {"farcall_test_a1", "farcall_test_b1", "farcall_test_a2",
                            "farcall_test_b2", "farcall_test_a3"};
  {  // the closed library's names at the head, inside and at the tail
    jlong a = open(kLibraryA);
    jlong b = open(kLibraryB);
    for (const char *name : resolved) ASSERT_NE(find(name), 0) << name;
    EXPECT_EQ(close(a), (Names{"farcall_test_a1", "farcall_test_a2", "farcall_test_a3"}));
    EXPECT_EQ(cachedNames(), (std::vector<std::string>{"farcall_test_b1", "farcall_test_b2"}));
    EXPECT_EQ(reinterpret_cast<LibraryNode *>(b)->symbolCount, 2);
    EXPECT_EQ(find("farcall_test_a1"), 0) << "searched again, in B only";
    EXPECT_EQ(close(b), (Names{"farcall_test_b1", "farcall_test_b2"}));
    EXPECT_TRUE(cachedNames().empty());
  }
  {  // the other library closed first
    jlong a = open(kLibraryA);
    jlong b = open(kLibraryB);
    for (const char *name : resolved) ASSERT_NE(find(name), 0) << name;
    EXPECT_EQ(close(b), (Names{"farcall_test_b1", "farcall_test_b2"}));
    EXPECT_EQ(cachedNames(),
              (std::vector<std::string>{"farcall_test_a1", "farcall_test_a2", "farcall_test_a3"}));
    EXPECT_EQ(firstLibrary, reinterpret_cast<LibraryNode *>(a));
    EXPECT_EQ(firstLibrary->next, nullptr);
    EXPECT_EQ(close(a), (Names{"farcall_test_a1", "farcall_test_a2", "farcall_test_a3"}));
  }
}

TEST_F(RegistryTest, CloseOfNothingToReport) {
  jlong a = open(kLibraryA);
  ASSERT_NE(a, 0);
  {  // handles that are not listed: null, nothing unloaded, nothing changed
    EXPECT_EQ(close(0), std::nullopt);
    EXPECT_EQ(close(a + 8), std::nullopt);
    EXPECT_TRUE(loaded(kLibraryA));
    EXPECT_EQ(listedLibraries(), 1u);
  }
  {  // a library without resolved symbols: null, and it is unloaded
    EXPECT_EQ(close(a), std::nullopt);
    EXPECT_FALSE(loaded(kLibraryA));
    EXPECT_EQ(listedLibraries(), 0u);
  }
  {  // the same handle again is no longer listed
    jlong b = open(kLibraryB);
    if (b != a) {  // the allocator may hand out the freed node again
      EXPECT_EQ(close(a), std::nullopt);
      EXPECT_TRUE(loaded(kLibraryB));
    }
    close(b);
  }
}

TEST_F(RegistryTest, IndexForgetsExactlyTheNamesACloseDrops) {
  jlong a = open(kManyA);
  jlong b = open(kManyB);
  ASSERT_NE(a, 0);
  ASSERT_NE(b, 0);
  // All 3,000 names in a scattered order, so that both libraries' entries
  // share the index's runs and each library's nodes lie all over the list.
  constexpr int kNames = 3000;
  std::vector<int> order;
  std::vector<jlong> resolved(kNames);
  for (int k = 0; k < kNames; ++k) order.push_back(k * 7919 % kNames);
  for (int number : order) {
    resolved[number] = find(manyName(number).c_str());
    ASSERT_NE(resolved[number], 0) << number;
  }
  EXPECT_EQ(reinterpret_cast<LibraryNode *>(a)->symbolCount, 2000);
  EXPECT_EQ(reinterpret_cast<LibraryNode *>(b)->symbolCount, 1000);

  Names droppedFromA;
  for (int number : order) {
    if (number < 2000) droppedFromA.push_back(manyName(number));
  }
  EXPECT_EQ(close(a), droppedFromA);
  expectConsistentRegistry();
  {  // B's own names are still served from the index, without a new node
    for (int number = 2000; number < kNames; ++number) {
      ASSERT_EQ(find(manyName(number).c_str()), resolved[number]) << number;
    }
    EXPECT_EQ(reinterpret_cast<LibraryNode *>(b)->symbolCount, 1000);
  }
  {  // no dropped name is found through the index; each is looked up again
    for (int number = 0; number < 2000; ++number) {
      ASSERT_EQ(indexedFunction(manyName(number).c_str()), nullptr) << number;
    }
    for (int number = 0; number < 1000; ++number) {
      ASSERT_EQ(find(manyName(number).c_str()), 0) << "only A had " << number;
    }
    for (int number = 1000; number < 2000; ++number) {
      const std::string name = manyName(number);
      ASSERT_EQ(find(name.c_str()), addressIn(kManyB, name.c_str())) << "B's copy of " << number;
    }
    EXPECT_EQ(reinterpret_cast<LibraryNode *>(b)->symbolCount, 2000);
  }
}

int allocationsLeft = 0;
void *failingAllocate(size_t size) { return allocationsLeft-- > 0 ? malloc(size) : nullptr; }
char *failingCopy(const char *text) { return allocationsLeft-- > 0 ? strdup(text) : nullptr; }

TEST_F(RegistryTest, FailedAllocationsChangeNothing) {
  registryAllocate = failingAllocate;
  registryCopyString = failingCopy;
  // the node fails, then the string copy, then the index by path, by address
  for (int succeeding : {0, 1, 2, 3}) {
    allocationsLeft = succeeding;
    EXPECT_EQ(open(kLibraryA), 0);
    EXPECT_EQ(listedLibraries(), 0u);
    EXPECT_FALSE(loaded(kLibraryA)) << "the failed open gives its reference back";
  }
  allocationsLeft = 4;
  jlong a = open(kLibraryA);
  ASSERT_NE(a, 0);
  for (int succeeding : {0, 1, 2}) {  // the node, the string copy, the index by name
    allocationsLeft = succeeding;
    EXPECT_EQ(find("farcall_test_a1"), 0);
    EXPECT_TRUE(cachedNames().empty());
    EXPECT_EQ(reinterpret_cast<LibraryNode *>(a)->symbolCount, 0);
  }
  allocationsLeft = 5;
  EXPECT_NE(find("farcall_test_a1"), 0);
  EXPECT_NE(find("farcall_test_a2"), 0);
  EXPECT_EQ(close(a), (Names{"farcall_test_a1", "farcall_test_a2"}));
}

// Fails the allocation numbered failAt, counting from 0, and no other.
int allocationsMade = 0;
int failAt = 0;
void *allocateFailingOne(size_t size) { return allocationsMade++ == failAt ? nullptr : malloc(size); }
char *copyFailingOne(const char *text) { return allocationsMade++ == failAt ? nullptr : strdup(text); }

// The lists as names, in order, with each library's symbolCount.
std::vector<std::string> registrySnapshot() {
  std::vector<std::string> snapshot;
  for (LibraryNode *node = firstLibrary; node != nullptr; node = node->next) {
    snapshot.push_back(std::string(node->path) + " " + std::to_string(node->symbolCount));
  }
  for (FunctionNode *node = firstFunction; node != nullptr; node = node->next) snapshot.push_back(node->name);
  return snapshot;
}

TEST_F(RegistryTest, EachFailedAllocationLeavesListsAndIndexAgreeing) {
  registryAllocate = allocateFailingOne;
  registryCopyString = copyFailingOne;
  // A run of opens, finds and closes in which every table grows past its
  // first size and empties again; run once for every allocation it makes,
  // failing that one.
  for (failAt = 0;; ++failAt) {
    SCOPED_TRACE("allocation " + std::to_string(failAt) + " fails");
    allocationsMade = 0;
    // A step that made the failing allocation gives 0 (null) and changes
    // nothing; any other step keeps the registry consistent.
    auto step = [&](const std::string &what, auto call) {
      const std::vector<std::string> before = registrySnapshot();
      const int madeBefore = allocationsMade;
      const bool succeeded = call();
      if (madeBefore <= failAt && failAt < allocationsMade) {
        EXPECT_FALSE(succeeded) << what;
        EXPECT_EQ(registrySnapshot(), before) << what;
      }
      expectConsistentRegistry();
    };
    const std::string paths[] = {kLibraryA, otherSpelling(kLibraryA), kLibraryB, kManyA,
                                 otherSpelling(otherSpelling(kLibraryA))};
    std::vector<jlong> handles;
    for (const std::string &path : paths) {
      step("open " + path, [&] {
        handles.push_back(open(path));
        return handles.back() != 0;
      });
    }
    for (const char *name : {"farcall_test_a1", "farcall_test_shared", "farcall_test_b1"}) {
      step(name, [&] { return find(name) != 0; });
    }
    for (int number = 0; number < 20; ++number) {
      step(manyName(number), [&] { return find(manyName(number).c_str()) != 0; });
    }
    for (jlong handle : handles) {
      step("close", [&] { return close(handle).has_value(); });
    }
    EXPECT_EQ(firstLibrary, nullptr);
    EXPECT_EQ(firstFunction, nullptr);
    if (allocationsMade <= failAt) break;  // the run made no more allocations to fail
  }
  EXPECT_GT(failAt, 40) << "every table grew at least once";
}

TEST_F(RegistryTest, VirtualMachineFailuresChangeNothing) {
  jlong a = open(kLibraryA);
  ASSERT_NE(a, 0);
  ASSERT_NE(find("farcall_test_a1"), 0);
  ASSERT_NE(find("farcall_test_a2"), 0);

  jni.failGetStringUTFChars = true;
  EXPECT_EQ(open(kLibraryB), 0);
  EXPECT_EQ(find("farcall_test_a3"), 0);
  EXPECT_EQ(listedLibraries(), 1u);
  jni.failGetStringUTFChars = false;

  auto closeFails = [&](const char *what) {
    EXPECT_EQ(close(a), std::nullopt) << what;
    EXPECT_TRUE(loaded(kLibraryA)) << what;
    EXPECT_EQ(listedLibraries(), 1u) << what;
    EXPECT_EQ(cachedNames(), (std::vector<std::string>{"farcall_test_a1", "farcall_test_a2"})) << what;
  };
  jni.failFindClass = true;
  closeFails("FindClass");
  jni.failFindClass = false;
  jni.failNewObjectArray = true;
  closeFails("NewObjectArray");
  jni.failNewObjectArray = false;
  jni.failNewStringUTFAfter = 1;
  closeFails("NewStringUTF of the second name");
  jni.failNewStringUTFAfter = -1;

  EXPECT_EQ(close(a), (Names{"farcall_test_a1", "farcall_test_a2"}));
  EXPECT_FALSE(loaded(kLibraryA));
}

}  // namespace
