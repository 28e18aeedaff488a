// The x86 vector intrinsics. GCC 12 reports its own AVX-512 helpers, which
// start from an undefined register, as "may be used uninitialized" wherever
// they are inlined; the notes point into its header and say nothing of ours.
#pragma once

#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#include <immintrin.h>
#pragma GCC diagnostic pop
