#include "fake_jni.h"

#include <cstdlib>
#include <cstring>

namespace {
FakeJni *current = nullptr;
}

FakeJni::FakeJni() {
  table_.GetStringUTFChars = &FakeJni::GetStringUTFChars;
  table_.ReleaseStringUTFChars = &FakeJni::ReleaseStringUTFChars;
  table_.FindClass = &FakeJni::FindClass;
  table_.NewObjectArray = &FakeJni::NewObjectArray;
  table_.NewStringUTF = &FakeJni::NewStringUTF;
  table_.SetObjectArrayElement = &FakeJni::SetObjectArrayElement;
  table_.DeleteLocalRef = &FakeJni::DeleteLocalRef;
  env_.functions = &table_;
  current = this;
}

FakeJni::~FakeJni() { current = nullptr; }

FakeJni *FakeJni::of(JNIEnv *env) {
  if (current == nullptr || env != &current->env_) abort();
  return current;
}

FakeJni::Object *FakeJni::object(jobject reference) const {
  for (const Object &candidate : objects_) {
    if (reinterpret_cast<jobject>(const_cast<Object *>(&candidate)) == reference) {
      return const_cast<Object *>(&candidate);
    }
  }
  return nullptr;
}

jstring FakeJni::string(const std::string &text) {
  objects_.push_back(Object{text, {}, false});
  return reinterpret_cast<jstring>(&objects_.back());
}

std::vector<std::optional<std::string>> FakeJni::elements(jobjectArray array) const {
  std::vector<std::optional<std::string>> result;
  const Object *found = object(array);
  if (found == nullptr || !found->isArray) return result;
  for (jobject element : found->elements) {
    const Object *text = object(element);
    result.push_back(text != nullptr ? std::optional<std::string>(text->text) : std::nullopt);
  }
  return result;
}

const char *FakeJni::GetStringUTFChars(JNIEnv *env, jstring string, jboolean *) {
  FakeJni *self = of(env);
  self->getStringUTFCharsCalls += 1;
  const Object *found = self->object(string);
  if (found == nullptr || found->isArray) {
    self->badCalls += 1;
    return nullptr;
  }
  if (self->failGetStringUTFChars) return nullptr;
  self->charsOutstanding += 1;
  return strdup(found->text.c_str());  // a copy, as a virtual machine may give
}

void FakeJni::ReleaseStringUTFChars(JNIEnv *env, jstring string, const char *chars) {
  FakeJni *self = of(env);
  if (self->object(string) == nullptr || chars == nullptr) self->badCalls += 1;
  self->charsOutstanding -= 1;
  free(const_cast<char *>(chars));
}

jclass FakeJni::FindClass(JNIEnv *env, const char *name) {
  FakeJni *self = of(env);
  if (strcmp(name, "java/lang/String") != 0) self->badCalls += 1;
  if (self->failFindClass) return nullptr;
  self->classRefsOutstanding += 1;
  return reinterpret_cast<jclass>(&self->stringClass_);
}

jobjectArray FakeJni::NewObjectArray(JNIEnv *env, jsize length, jclass elementClass,
                                     jobject initial) {
  FakeJni *self = of(env);
  if (elementClass != reinterpret_cast<jclass>(&self->stringClass_) || initial != nullptr ||
      length < 0) {
    self->badCalls += 1;
  }
  if (self->failNewObjectArray) return nullptr;
  self->objects_.push_back(Object{{}, std::vector<jobject>(static_cast<size_t>(length)), true});
  return reinterpret_cast<jobjectArray>(&self->objects_.back());
}

jstring FakeJni::NewStringUTF(JNIEnv *env, const char *chars) {
  FakeJni *self = of(env);
  if (self->failNewStringUTFAfter == 0) return nullptr;
  if (self->failNewStringUTFAfter > 0) self->failNewStringUTFAfter -= 1;
  jstring made = self->string(chars);
  self->objects_.back().liveLocalString = true;
  self->stringRefsLive += 1;
  if (self->stringRefsLive > self->stringRefsPeak) self->stringRefsPeak = self->stringRefsLive;
  return made;
}

void FakeJni::SetObjectArrayElement(JNIEnv *env, jobjectArray array, jsize index, jobject value) {
  FakeJni *self = of(env);
  Object *found = self->object(array);
  if (found == nullptr || !found->isArray || index < 0 ||
      static_cast<size_t>(index) >= found->elements.size()) {
    self->badCalls += 1;
    return;
  }
  found->elements[static_cast<size_t>(index)] = value;
}

void FakeJni::DeleteLocalRef(JNIEnv *env, jobject reference) {
  FakeJni *self = of(env);
  if (reference == reinterpret_cast<jobject>(&self->stringClass_)) {
    self->classRefsOutstanding -= 1;
    return;
  }
  Object *found = self->object(reference);
  if (found == nullptr) {
    self->badCalls += 1;
  } else if (found->liveLocalString) {
    found->liveLocalString = false;
    self->stringRefsLive -= 1;
  }
}
