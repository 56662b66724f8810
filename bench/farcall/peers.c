/* The native side of the libFarcall benchmark: the targets that Farcall,
   JNA, libffi and FFM call, and the plain JNI static natives that do the same
   work directly, in both the standard and the critical-native form. */
#include <jni.h>
#include <stdint.h>

#define EXPORT __attribute__((visibility("default")))

/* Targets. */
EXPORT int64_t bench_zero(void) { return 0; }
EXPORT int64_t bench_difference(int64_t a1, int64_t a2) { return a2 - a1; }
EXPORT int64_t bench_sum8(int64_t a1, int64_t a2, int64_t a3, int64_t a4, int64_t a5, int64_t a6,
                          int64_t a7, int64_t a8) {
  return a1 + a2 + a3 + a4 + a5 + a6 + a7 + a8;
}

#define P8(x) int64_t x##1, int64_t x##2, int64_t x##3, int64_t x##4, \
              int64_t x##5, int64_t x##6, int64_t x##7, int64_t x##8
#define S8(x) (x##1 + x##2 + x##3 + x##4 + x##5 + x##6 + x##7 + x##8)
#define P64 P8(a), P8(b), P8(c), P8(d), P8(e), P8(f), P8(g), P8(h)
#define S64 (S8(a) + S8(b) + S8(c) + S8(d) + S8(e) + S8(f) + S8(g) + S8(h))

EXPORT int64_t bench_sum64(P64) { return S64; }

/* Plain JNI natives of class FarcallBench, doing the targets' work in place. */
EXPORT jlong JNICALL Java_FarcallBench_plain0(JNIEnv *env, jclass cls) {
  (void)env; (void)cls;
  return 0;
}
EXPORT jlong JNICALL Java_FarcallBench_plain2(JNIEnv *env, jclass cls, jlong a1, jlong a2) {
  (void)env; (void)cls;
  return a2 - a1;
}
EXPORT jlong JNICALL Java_FarcallBench_plain8(JNIEnv *env, jclass cls, P8(a)) {
  (void)env; (void)cls;
  return S8(a);
}
EXPORT jlong JNICALL Java_FarcallBench_plain64(JNIEnv *env, jclass cls, P64) {
  (void)env; (void)cls;
  return S64;
}

/* The same with one more, unused long: what the virtual machine pays for
   passing Farcall's fn argument, apart from the trampoline. */
EXPORT jlong JNICALL Java_FarcallBench_extra0(JNIEnv *env, jclass cls, jlong fn) {
  (void)env; (void)cls; (void)fn;
  return 0;
}
EXPORT jlong JNICALL Java_FarcallBench_extra2(JNIEnv *env, jclass cls, jlong a1, jlong a2, jlong fn) {
  (void)env; (void)cls; (void)fn;
  return a2 - a1;
}
EXPORT jlong JNICALL Java_FarcallBench_extra8(JNIEnv *env, jclass cls, P8(a), jlong fn) {
  (void)env; (void)cls; (void)fn;
  return S8(a);
}
EXPORT jlong JNICALL Java_FarcallBench_extra64(JNIEnv *env, jclass cls, P64, jlong fn) {
  (void)env; (void)cls; (void)fn;
  return S64;
}

EXPORT jlong JNICALL JavaCritical_FarcallBench_plain0(void) { return 0; }
EXPORT jlong JNICALL JavaCritical_FarcallBench_plain2(jlong a1, jlong a2) { return a2 - a1; }
EXPORT jlong JNICALL JavaCritical_FarcallBench_plain8(P8(a)) { return S8(a); }
EXPORT jlong JNICALL JavaCritical_FarcallBench_plain64(P64) { return S64; }
EXPORT jlong JNICALL JavaCritical_FarcallBench_extra0(jlong fn) { (void)fn; return 0; }
EXPORT jlong JNICALL JavaCritical_FarcallBench_extra2(jlong a1, jlong a2, jlong fn) { (void)fn; return a2 - a1; }
EXPORT jlong JNICALL JavaCritical_FarcallBench_extra8(P8(a), jlong fn) { (void)fn; return S8(a); }
EXPORT jlong JNICALL JavaCritical_FarcallBench_extra64(P64, jlong fn) { (void)fn; return S64; }
