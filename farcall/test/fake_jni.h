// A minimal JNI environment for driving the registry's entry points without
// a virtual machine. It serves only the functions the registry uses, counts
// what must be released, and can be told to fail like a virtual machine out
// of memory (returning null).
#ifndef FARCALL_TEST_FAKE_JNI_H
#define FARCALL_TEST_FAKE_JNI_H

#include <jni.h>

#include <deque>
#include <optional>
#include <string>
#include <vector>

struct FakeJni {
  FakeJni();
  ~FakeJni();
  FakeJni(const FakeJni &) = delete;
  FakeJni &operator=(const FakeJni &) = delete;

  JNIEnv *env() { return &env_; }

  // A Java string holding text.
  jstring string(const std::string &text);

  // The elements of a String array made by the registry (nullopt for a null
  // element).
  std::vector<std::optional<std::string>> elements(jobjectArray array) const;

  // Failure switches: the next calls of these functions return null.
  bool failGetStringUTFChars = false;
  bool failFindClass = false;
  bool failNewObjectArray = false;
  int failNewStringUTFAfter = -1;  // succeed this many times, then fail; -1: never

  // Bookkeeping checked by the tests.
  int getStringUTFCharsCalls = 0;
  int charsOutstanding = 0;      // GetStringUTFChars not yet released
  int classRefsOutstanding = 0;  // FindClass results not yet deleted
  int stringRefsLive = 0;        // NewStringUTF results not yet deleted
  int stringRefsPeak = 0;        // the most of them alive at once
  int badCalls = 0;              // wrong arguments seen (unknown object, bad index...)

 private:
  struct Object {
    std::string text;                    // for a String
    std::vector<jobject> elements;       // for an array
    bool isArray = false;
    bool liveLocalString = false;        // made by NewStringUTF, not yet deleted
  };
  static FakeJni *of(JNIEnv *env);
  Object *object(jobject reference) const;

  static const char *GetStringUTFChars(JNIEnv *env, jstring string, jboolean *isCopy);
  static void ReleaseStringUTFChars(JNIEnv *env, jstring string, const char *chars);
  static jclass FindClass(JNIEnv *env, const char *name);
  static jobjectArray NewObjectArray(JNIEnv *env, jsize length, jclass elementClass, jobject initial);
  static jstring NewStringUTF(JNIEnv *env, const char *chars);
  static void SetObjectArrayElement(JNIEnv *env, jobjectArray array, jsize index, jobject value);
  static void DeleteLocalRef(JNIEnv *env, jobject reference);

  JNINativeInterface_ table_{};
  JNIEnv env_{};
  std::deque<Object> objects_;
  char stringClass_ = 0;  // its address stands for the class java/lang/String
};

#endif
