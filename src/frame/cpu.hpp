// Code paths for processors with AVX-512, chosen at run time.
//
// A loop that gains from 512-bit vectors is compiled twice from one template:
// once for any x86-64 and once inside a function marked CORVANE_AVX512 (with
// `flatten`, so that everything it calls is compiled for AVX-512 too); the
// kernel asks have_avx512() which one to run.
#pragma once

#define CORVANE_AVX512 __attribute__((target("avx512f,avx512vl,avx512bw,avx512dq,popcnt")))

namespace corvane {

// libgcc reads the processor's features once, at load.
inline bool have_avx512() {
    return __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512vl") &&
           __builtin_cpu_supports("avx512bw") && __builtin_cpu_supports("avx512dq");
}

}  // namespace corvane
