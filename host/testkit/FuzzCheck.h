#pragma once
// A fuzz target's invariant: when it does not hold, the target says which
// one and where, and aborts, so the fuzzer keeps the input that broke it.

#include <stdio.h>
#include <stdlib.h>

#define CHECK(condition)                                                                \
  do {                                                                                  \
    if (!(condition)) {                                                                 \
      fprintf(stderr, "%s:%d: invariant broken: %s\n", __FILE__, __LINE__, #condition); \
      abort();                                                                          \
    }                                                                                   \
  } while (0)
