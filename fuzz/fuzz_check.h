// A check that holds in every build of the desk fuzz targets: a broken
// invariant prints what broke and aborts, which libFuzzer reports.
#ifndef FUZZ_CHECK_H
#define FUZZ_CHECK_H

#include <stdio.h>
#include <stdlib.h>

#define FUZZ_CHECK(condition, ...)                                                  \
    do {                                                                            \
        if (!(condition)) {                                                         \
            fprintf(stderr, "%s:%d: broken: %s: ", __FILE__, __LINE__, #condition); \
            fprintf(stderr, __VA_ARGS__);                                           \
            fputc('\n', stderr);                                                    \
            abort();                                                                \
        }                                                                           \
    } while (0)

#endif
