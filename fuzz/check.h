// A property check for the fuzz targets: a violation aborts, so libFuzzer
// keeps the input that broke it.
#pragma once

#include <cstdio>
#include <cstdlib>

#define CHECK(cond)                                                                                \
    do {                                                                                           \
        if (!(cond)) {                                                                             \
            std::fprintf(stderr, "property violated at %s:%d: %s\n", __FILE__, __LINE__, #cond);   \
            std::abort();                                                                          \
        }                                                                                          \
    } while (false)
