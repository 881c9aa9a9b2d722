#pragma once

// For the fuzz targets: a property that does not hold stops the run, naming it, so that
// libFuzzer keeps the input and the corpus replay fails.
#include <cstdint>
#include <cstdio>
#include <cstdlib>

#define FUZZ_CHECK(property)                                                                                           \
    ((property) ? void() : (std::fprintf(stderr, "%s:%d: %s\n", __FILE__, __LINE__, #property), std::abort()))

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size);
