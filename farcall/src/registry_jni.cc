// JNI entry points of the registry: com.tamsor.cobol.rununit.Farcall's open,
// findSymbol and close. Each converts between Java values and the registry's
// plain functions; none raises an exception of its own. When the virtual
// machine returns null (a pending OutOfMemoryError, or a null string from the
// caller) the entry gives back its neutral result and changes nothing.
#include <jni.h>

#include <cstdint>

#include "registry.h"

namespace {

jlong ptr_to_jlong(const void *pointer) {
  return static_cast<jlong>(reinterpret_cast<intptr_t>(pointer));
}

const void *jlong_to_ptr(jlong value) {
  return reinterpret_cast<const void *>(static_cast<intptr_t>(value));
}

// The names resolved through library, in resolution order, as a new String
// array of symbolCount elements. Null, with nothing released, when the virtual
// machine cannot make the array or one of its strings. Each name's local
// reference goes as soon as the array holds the string: a library may have
// thousands of names, and the virtual machine promises room for only 16
// local references.
jobjectArray droppedNames(JNIEnv *env, const LibraryNode *library) {
  jclass stringClass = env->FindClass("java/lang/String");
  if (stringClass == nullptr) return nullptr;

  jobjectArray names = env->NewObjectArray(library->symbolCount, stringClass, nullptr);
  if (names != nullptr) {
    jsize index = 0;
    for (FunctionNode *node = library->firstOwned; node != nullptr; node = node->nextOwned) {
      jstring name = env->NewStringUTF(node->name);
      if (name == nullptr) {
        env->DeleteLocalRef(names);
        names = nullptr;
        break;
      }
      env->SetObjectArrayElement(names, index, name);
      env->DeleteLocalRef(name);
      index += 1;
    }
  }
  env->DeleteLocalRef(stringClass);
  return names;
}

}  // namespace

extern "C" {

/*
 * Class:     com_tamsor_cobol_rununit_Farcall
 * Method:    open
 * Signature: (Ljava/lang/String;)J
 */
JNIEXPORT jlong JNICALL
Java_com_tamsor_cobol_rununit_Farcall_open(JNIEnv *env, jclass, jstring path) {
  if (path == nullptr) return 0;
  const char *chars = env->GetStringUTFChars(path, nullptr);
  if (chars == nullptr) return 0;

  jlong handle = ptr_to_jlong(openLibrary(chars));

  env->ReleaseStringUTFChars(path, chars);
  return handle;
}

/*
 * Class:     com_tamsor_cobol_rununit_Farcall
 * Method:    findSymbol
 * Signature: (Ljava/lang/String;)J
 */
JNIEXPORT jlong JNICALL
Java_com_tamsor_cobol_rununit_Farcall_findSymbol(JNIEnv *env, jclass, jstring name) {
  if (name == nullptr) return 0;
  const char *chars = env->GetStringUTFChars(name, nullptr);
  if (chars == nullptr) return 0;

  jlong address = ptr_to_jlong(findSymbol(chars));

  env->ReleaseStringUTFChars(name, chars);
  return address;
}

/*
 * Class:     com_tamsor_cobol_rununit_Farcall
 * Method:    close
 * Signature: (J)[Ljava/lang/String;
 *
 * The names are collected before anything is unloaded, so that a failure of
 * the virtual machine to make them leaves the library open and listed.
 */
JNIEXPORT jobjectArray JNICALL
Java_com_tamsor_cobol_rununit_Farcall_close(JNIEnv *env, jclass, jlong handle) {
  LibraryNode *library = listedLibrary(jlong_to_ptr(handle));
  if (library == nullptr) return nullptr;

  jobjectArray names = nullptr;
  if (library->symbolCount > 0) {
    names = droppedNames(env, library);
    if (names == nullptr) return nullptr;
  }
  dropLibrary(library);
  return names;
}

}  // extern "C"
