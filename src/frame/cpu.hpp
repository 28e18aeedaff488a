// Code paths for processors with AVX2 or AVX-512, chosen at run time.
//
// A loop that gains from wider vectors is written once, as a template, and
// compiled three times: for any x86-64 (SSE2), inside a function marked
// CORVANE_AVX2 and inside one marked CORVANE_AVX512, each with `flatten` so
// that everything it calls is compiled for that target too. isa_dispatch()
// runs the instantiation for the widest level the processor has; kernels with
// hand-written AVX-512 code ask have_avx512() themselves.
//
// FMA is left out of the AVX2 level on purpose: the build keeps a product and
// a sum as two roundings (-ffp-contract=off), and every level gives the same
// bits.
//
// The environment variable CORVANE_DISABLE_CPU_FEATURES, read once when a
// module is loaded, holds names separated by spaces or commas: "AVX512" turns
// off the AVX-512 paths, "AVX2" the AVX2 and AVX-512 ones (the wider paths
// assume the narrower). Other names are ignored. It lets the lower paths be
// tested and timed on any processor.
#pragma once

#include <stdlib.h>

#define CORVANE_AVX2 __attribute__((target("avx2,bmi,bmi2,popcnt")))
// The AVX-512 level includes all of the AVX2 one, so that AVX2 helpers inline
// into AVX-512 code.
#define CORVANE_AVX512 \
    __attribute__((target("avx512f,avx512vl,avx512bw,avx512dq,avx2,bmi,bmi2,popcnt")))

namespace corvane {

// The levels, in order.
enum class isa : int { base = 0, avx2 = 1, avx512 = 2 };

namespace detail {

// Whether the `len` characters at s are `name`, ignoring ASCII case.
inline bool cpu_name_is(const char *s, int len, const char *name) {
    int i = 0;
    for (; i < len && name[i] != '\0'; i++) {
        const char c = s[i] >= 'a' && s[i] <= 'z' ? static_cast<char>(s[i] - 'a' + 'A') : s[i];
        if (c != name[i]) {
            return false;
        }
    }
    return i == len && name[i] == '\0';
}

// The widest level the processor has, less what the environment turns off.
inline isa detect_isa() {
    // This runs among the module's static initializers, which need not come
    // after libgcc's own reading of the processor's features.
    __builtin_cpu_init();
    isa level = isa::base;
    if (__builtin_cpu_supports("avx2") && __builtin_cpu_supports("bmi") &&
        __builtin_cpu_supports("bmi2") && __builtin_cpu_supports("popcnt")) {
        level = isa::avx2;
        if (__builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512vl") &&
            __builtin_cpu_supports("avx512bw") && __builtin_cpu_supports("avx512dq")) {
            level = isa::avx512;
        }
    }
    const char *off = getenv("CORVANE_DISABLE_CPU_FEATURES");
    for (const char *s = off; s != nullptr && *s != '\0';) {
        if (*s == ' ' || *s == ',' || *s == '\t') {
            s++;
            continue;
        }
        int len = 0;
        while (s[len] != '\0' && s[len] != ' ' && s[len] != ',' && s[len] != '\t') {
            len++;
        }
        if (cpu_name_is(s, len, "AVX2")) {
            level = isa::base;
        } else if (cpu_name_is(s, len, "AVX512") && level == isa::avx512) {
            level = isa::avx2;
        }
        s += len;
    }
    return level;
}

}  // namespace detail

// Set while the module loads (each module holds its own copy).
inline const isa cpu_isa = detail::detect_isa();

inline bool have_avx512() { return cpu_isa == isa::avx512; }
inline bool have_avx2() { return cpu_isa >= isa::avx2; }

// What a body compiled for level L may assume: its vectors' width in bytes.
template <isa L>
struct isa_tag {
    static constexpr isa level = L;
    static constexpr int vector_bytes = L == isa::avx512 ? 64 : L == isa::avx2 ? 32 : 16;
};

namespace detail {

template <class F>
__attribute__((flatten)) inline decltype(auto) run_base(F &f) {
    return f(isa_tag<isa::base>{});
}
template <class F>
CORVANE_AVX2 __attribute__((flatten)) inline decltype(auto) run_avx2(F &f) {
    return f(isa_tag<isa::avx2>{});
}
template <class F>
CORVANE_AVX512 __attribute__((flatten)) inline decltype(auto) run_avx512(F &f) {
    return f(isa_tag<isa::avx512>{});
}

}  // namespace detail

// f(isa_tag<L>{}) compiled for level L, for the widest level available. f is
// a generic lambda: one body, three instantiations.
template <class F>
inline decltype(auto) isa_dispatch(F &&f) {
    if (cpu_isa == isa::avx512) {
        return detail::run_avx512(f);
    }
    if (cpu_isa == isa::avx2) {
        return detail::run_avx2(f);
    }
    return detail::run_base(f);
}

}  // namespace corvane
