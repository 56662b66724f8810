/* Calls the benchmark targets through libffi from C and prints, per case,
   the median nanoseconds per call over several repetitions:
     RESULT|standard|<case>|libffi|<ns>
   Usage: ffi_bench <peers library> <repetitions> */
#include <dlfcn.h>
#include <ffi.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <time.h>

static double now_ns(void) {
  struct timespec t;
  clock_gettime(CLOCK_MONOTONIC, &t);
  return (double)t.tv_sec * 1e9 + (double)t.tv_nsec;
}

static int compare(const void *a, const void *b) {
  double x = *(const double *)a, y = *(const double *)b;
  return (x > y) - (x < y);
}

int main(int argc, char **argv) {
  if (argc != 3) {
    fprintf(stderr, "usage: %s PEERS_LIBRARY REPETITIONS\n", argv[0]);
    return 2;
  }
  void *peers = dlopen(argv[1], RTLD_NOW);
  if (peers == NULL) {
    fprintf(stderr, "%s\n", dlerror());
    return 1;
  }
  int repetitions = atoi(argv[2]);
  struct { const char *name, *symbol; unsigned arity; } cases[] = {
    {"cCall0", "bench_zero", 0}, {"cCall2", "bench_difference", 2},
    {"cCall8", "bench_sum8", 8}, {"cCall64", "bench_sum64", 64},
    {"stdCall2", "bench_difference", 2},
  };
  ffi_type *types[64];
  int64_t values[64];
  void *arguments[64];
  for (int k = 0; k < 64; k++) {
    types[k] = &ffi_type_sint64;
    arguments[k] = &values[k];
  }
  int64_t sink = 0;
  for (size_t c = 0; c < sizeof cases / sizeof cases[0]; c++) {
    void (*fn)(void) = (void (*)(void))dlsym(peers, cases[c].symbol);
    ffi_cif cif;
    if (fn == NULL || ffi_prep_cif(&cif, FFI_DEFAULT_ABI, cases[c].arity, &ffi_type_sint64, types) != FFI_OK) {
      fprintf(stderr, "cannot prepare %s\n", cases[c].name);
      return 1;
    }
    double samples[64];
    const int calls = 1000000;
    for (int r = 0; r < repetitions && r < 64; r++) {
      double start = now_ns();
      for (int i = 0; i < calls; i++) {
        ffi_arg result;
        values[0] = i;
        ffi_call(&cif, fn, &result, arguments);
        sink += (int64_t)result;
      }
      samples[r] = (now_ns() - start) / calls;
    }
    qsort(samples, (size_t)repetitions, sizeof samples[0], compare);
    printf("RESULT|standard|%s|libffi|%.2f\n", cases[c].name, samples[repetitions / 2]);
  }
  fprintf(stderr, "(sink %lld)\n", (long long)sink);
  return 0;
}
