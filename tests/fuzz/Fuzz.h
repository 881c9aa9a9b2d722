#pragma once

#include <cstdio>
#include <cstdlib>

// A property that does not hold stops the run, naming it: libFuzzer keeps the input, the replay fails.
#define FUZZ_CHECK(property)                                                                                           \
    ((property) ? void() : (std::fprintf(stderr, "%s:%d: %s\n", __FILE__, __LINE__, #property), std::abort()))
