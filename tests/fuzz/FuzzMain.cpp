// The entry point libFuzzer calls in the fuzzing build.
#include "FuzzTarget.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    return FuzzOne(data, size);
}
