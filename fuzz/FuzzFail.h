#pragma once

#include <cstdio>
#include <cstdlib>
#include <stdexcept>

// A harness's own check failed. Under libFuzzer that is a crash with the
// message; replayed by the unit tests (VT_FUZZ_REPLAY) it is a reported failure.
[[noreturn]] inline void FuzzFail(const char* Msg) {
#ifdef VT_FUZZ_REPLAY
    throw std::runtime_error(Msg);
#else
    std::fprintf(stderr, "%s\n", Msg);
    std::abort();
#endif
}
