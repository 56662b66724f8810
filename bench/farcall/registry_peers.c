/* The C side of the registry benchmark: dlsym (and dlopen of a library
   already loaded) called from C in a loop, the floor under any lookup from
   Java. The names are converted to C strings once, before any measurement,
   so the loops time dlsym alone. */
#include <dlfcn.h>
#include <jni.h>
#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#define EXPORT __attribute__((visibility("default")))

static jlong fromPointer(const void *pointer) { return (jlong)(intptr_t)pointer; }
static void *toPointer(jlong value) { return (void *)(intptr_t)value; }

/* dlopen(path, RTLD_LAZY), as Farcall opens; 0 when it fails. */
EXPORT jlong JNICALL Java_RegistryBench_dlopenLazy(JNIEnv *env, jclass cls, jstring path) {
  (void)cls;
  const char *chars = (*env)->GetStringUTFChars(env, path, NULL);
  if (chars == NULL) return 0;
  void *handle = dlopen(chars, RTLD_LAZY);
  (*env)->ReleaseStringUTFChars(env, path, chars);
  return fromPointer(handle);
}

/* A C array of copies of the strings, kept for the life of the process;
   0 when memory runs out. */
EXPORT jlong JNICALL Java_RegistryBench_cStrings(JNIEnv *env, jclass cls, jobjectArray strings) {
  (void)cls;
  jsize count = (*env)->GetArrayLength(env, strings);
  char **copies = calloc((size_t)count, sizeof(char *));
  if (copies == NULL) return 0;
  for (jsize i = 0; i < count; i++) {
    jstring string = (jstring)(*env)->GetObjectArrayElement(env, strings, i);
    if (string == NULL) return 0;
    const char *chars = (*env)->GetStringUTFChars(env, string, NULL);
    if (chars == NULL) return 0;
    copies[i] = strdup(chars);
    (*env)->ReleaseStringUTFChars(env, string, chars);
    (*env)->DeleteLocalRef(env, string);
    if (copies[i] == NULL) return 0;
  }
  return fromPointer(copies);
}

/* dlsym of names[index], calls times; the sum of the addresses. */
EXPORT jlong JNICALL Java_RegistryBench_dlsymRepeated(JNIEnv *env, jclass cls, jlong handle,
                                                      jlong names, jint index, jint calls) {
  (void)env; (void)cls;
  const char *name = ((char **)toPointer(names))[index];
  uintptr_t sum = 0;
  for (jint i = 0; i < calls; i++) sum += (uintptr_t)dlsym(toPointer(handle), name);
  return (jlong)sum;
}

/* dlsym of names[from] to names[to - 1], once each; the sum of the addresses. */
EXPORT jlong JNICALL Java_RegistryBench_dlsymEach(JNIEnv *env, jclass cls, jlong handle,
                                                  jlong names, jint from, jint to) {
  (void)env; (void)cls;
  char **cNames = toPointer(names);
  uintptr_t sum = 0;
  for (jint i = from; i < to; i++) sum += (uintptr_t)dlsym(toPointer(handle), cNames[i]);
  return (jlong)sum;
}

/* dlopen(path, RTLD_LAZY) of a library already loaded, and dlclose, calls
   times; the sum of the handles. */
EXPORT jlong JNICALL Java_RegistryBench_dlopenCloseRepeated(JNIEnv *env, jclass cls, jstring path,
                                                            jint calls) {
  (void)cls;
  const char *chars = (*env)->GetStringUTFChars(env, path, NULL);
  if (chars == NULL) return 0;
  uintptr_t sum = 0;
  for (jint i = 0; i < calls; i++) {
    void *handle = dlopen(chars, RTLD_LAZY);
    sum += (uintptr_t)handle;
    if (handle != NULL) dlclose(handle);
  }
  (*env)->ReleaseStringUTFChars(env, path, chars);
  return (jlong)sum;
}
