// move_min, move_max, move_argmin, move_argmax: the extreme of each window
// and its position, in amortised constant time per element.
//
// Kernels: move_min_axis_f64 .. move_min_axis_i32, move_max_axis_f64 ..
// move_max_axis_i32, move_argmin_axis_f64 .. move_argmin_axis_i32,
// move_argmax_axis_f64 .. move_argmax_axis_i32 (the instances of
// move_min_axis<T> etc. for double, float, int64_t, int32_t).
//
// Each slice is cut into blocks of `window` positions. A window ending at i
// in block b is a suffix of block b - 1 followed by a prefix of block b, so
// its extreme is the better of two precomputed ones: the running extreme of
// block b up to i, and the suffix extreme of block b - 1. Both are tables of
// window + 1 entries in a scratch block (malloc, once per call). A few
// comparisons per element, none of them a data-dependent branch, whatever
// the window length; a long block's running extremes run as several chains
// side by side (see `parts`), and the outputs are formed by vector code.
// With AVX-512, a slice of at least eight blocks runs eight blocks at once,
// one per vector lane (see slice_groups), and a contiguous one of at least
// 64 blocks runs as sixteen pieces side by side; many slices side by side,
// along a non-innermost axis or along the last one, run one slice per vector
// lane (extreme_strips.hpp). Otherwise along a non-innermost axis groups of
// neighbouring slices fill their tables a row at a time, by loops over the
// lanes.
//
// Values are compared as float64 (integers converted). Among equal values the
// rightmost wins, so positions are the rightmost ones (and of two zeros the
// later sign is the one returned). NaNs are never candidates: they are only
// left out of the count, and never reported as the position of an extreme.
#pragma once

#include "frame/intrinsics.hpp"

#include <cstdint>
#include <limits>
#include <type_traits>

#include "frame/cpu.hpp"
#include "move/extreme_strips.hpp"
#include "move/kernel_frame.hpp"

namespace corvane {

template <class T, bool Max, bool Arg>
struct move_extreme_op {
    using in = T;
    using O = move_out<T>;
    static constexpr bool max = Max;
    static constexpr bool arg = Arg;

    static constexpr const char *name = Max ? (Arg ? "move_argmax" : "move_max")
                                            : (Arg ? "move_argmin" : "move_min");
    static constexpr npy_intp lane_count = 1024;

    // Loses to, or ties with, every value; the value of "no candidate".
    static constexpr double worst =
        Max ? -std::numeric_limits<double>::infinity() : std::numeric_limits<double>::infinity();

    // v is at least as extreme as w (false when either is NaN).
    static bool at_least(double v, double w) {
        if constexpr (Max) {
            return v >= w;
        } else {
            return v <= w;
        }
    }
    // v is strictly more extreme than w (false when either is NaN).
    static bool beyond(double v, double w) {
        if constexpr (Max) {
            return v > w;
        } else {
            return v < w;
        }
    }
    // The better of best and v, v on a tie; v is not NaN. The forms
    // `a < b ? a : b` and `a > b ? a : b` are single minsd/maxsd
    // instructions, which keeps the loop-carried chain short.
    static double better_later(double best, double v) {
        if constexpr (Max) {
            return best > v ? best : v;
        } else {
            return best < v ? best : v;
        }
    }
    // The better of v and best, best on a tie or when v is NaN.
    static double better_earlier(double v, double best) {
        if constexpr (Max) {
            return v > best ? v : best;
        } else {
            return v < best ? v : best;
        }
    }

    // Candidates as arrays of values, positions (position variants only)
    // and counts of non-NaN values (float inputs only).
    struct runs {
        double *val;
        npy_intp *pos;
        npy_intp *cnt;
    };
    static constexpr npy_intp entry_bytes = Arg ? 24 : 16;

    // The running extremes of a block are chains of dependent compares;
    // blocks of at least `min_parted` positions are cut into `parts` pieces
    // whose chains run side by side, and each piece is then joined to the
    // extreme of the pieces before it (after it, for the suffixes) by a
    // vectorisable pass.
    static constexpr int parts = 4;
    static constexpr npy_intp min_parted = 64;

    // The scratch of one slice (1-d walk): the block's values (see
    // block_values), padded with NaN to a whole number of pieces; the prefix
    // extremes of the
    // current block; the suffix extremes of the current and the previous
    // block (w + parts entries each, entry w empty).
    static npy_intp slice_bytes(npy_intp w) { return (w + parts) * (3 * entry_bytes + 24); }
    // Lanes taken at once so that their three tables of (w + 1) rows stay in
    // the second-level cache.
    static npy_intp lane_group(npy_intp w) {
        const npy_intp fit = (npy_intp(1) << 20) / ((w + 1) * 3 * entry_bytes);
        return fit < 1 ? 1 : fit > lane_count ? lane_count : fit;
    }
    static npy_intp lanes_bytes(npy_intp w, npy_intp g) {
        return (w + 1) * g * 3 * entry_bytes + g * (8 + 8 + 8);
    }
    // Longer windows take the one-pass walk alone, whose scratch is a few
    // times smaller than the tables.
    static constexpr npy_intp max_tabled = npy_intp(1) << 16;
    static bool tabled(npy_intp w) { return w <= max_tabled; }
    // The lanes' tables are allocated by lanes(), so that calls without
    // lanes do not pay for them.
    static npy_intp scratch_bytes(const move_params &p) {
        const npy_intp w = p.window;
        const npy_intp a = (w + 1) * static_cast<npy_intp>(sizeof(entry));
        const npy_intp b = tabled(w) ? slice_bytes(w) : 0;
        const npy_intp g = group_bytes(w);
        const npy_intp r = extreme_strips<move_extreme_op>::rows_table_bytes(w);
        const npy_intp c = w <= max_grouped ? (g > r ? g : r) : 0;
        return a > b ? (a > c ? a : c) : (b > c ? b : c);
    }
    // Three tables of `rows` entries from the scratch block; returns the rest.
    static char *carve(char *at, npy_intp rows, runs *t) {
        for (int k = 0; k < 3; k++) {
            t[k].val = reinterpret_cast<double *>(at);
            at += rows * 8;
            t[k].cnt = reinterpret_cast<npy_intp *>(at);
            at += rows * 8;
            t[k].pos = reinterpret_cast<npy_intp *>(at);
            at += Arg ? rows * 8 : 0;
        }
        return at;
    }
    static void set_empty(runs r, npy_intp from, npy_intp to) {
        for (npy_intp j = from; j < to; j++) {
            r.val[j] = worst;
            r.cnt[j] = 0;
            if constexpr (Arg) {
                r.pos[j] = -1;
            }
        }
    }

    // Into r, for j < K * part: the extreme of v[0 .. j] (ties: the later),
    // its position (base + j) and the count of non-NaN values; K pieces of
    // `part` values side by side, each on its own.
    // A block's values as the chains read them: the value as float64 (NaN
    // kept: it never becomes a candidate), its key (NaN as `worst`), and
    // whether it counts (not NaN).
    struct block_values {
        double *raw;
        double *key;
        npy_intp *counts;
    };

    // Into r, for j < K * part: the extreme of values 0 .. j (ties: the
    // later), its position (base + j) and the count of non-NaN values; K
    // pieces of `part` values side by side, each on its own.
    template <int K>
    static void prefix_pieces(const block_values &v, npy_intp part, npy_intp base, runs r) {
        double best[K];
        npy_intp best_pos[K];
        npy_intp count[K];
        for (int q = 0; q < K; q++) {
            best[q] = worst;
            best_pos[q] = -1;
            count[q] = 0;
        }
        for (npy_intp t = 0; t < part; t++) {
            for (int q = 0; q < K; q++) {
                const npy_intp j = q * part + t;
                if constexpr (Arg) {
                    // NaN compares false: it never becomes the candidate.
                    best_pos[q] = at_least(v.raw[j], best[q]) ? base + j : best_pos[q];
                    r.pos[j] = best_pos[q];
                }
                best[q] = better_later(best[q], v.key[j]);
                r.val[j] = best[q];
                if constexpr (is_float<T>) {
                    count[q] += v.counts[j];
                    r.cnt[j] = count[q];
                }
            }
        }
    }

    // Into r, for j < K * part: the extreme of values j .. end of j's piece
    // (ties: the later), its position and the count of non-NaN values.
    template <int K>
    static void suffix_pieces(const block_values &v, npy_intp part, npy_intp base, runs r) {
        double run[K];
        npy_intp run_pos[K];
        npy_intp count[K];
        for (int q = 0; q < K; q++) {
            run[q] = worst;
            run_pos[q] = -1;
            count[q] = 0;
        }
        for (npy_intp t = part - 1; t >= 0; t--) {
            for (int q = 0; q < K; q++) {
                const npy_intp j = q * part + t;
                if constexpr (Arg) {
                    run_pos[q] = beyond(v.raw[j], run[q]) | ((run_pos[q] < 0) & (v.counts[j] != 0))
                                     ? base + j
                                     : run_pos[q];
                    r.pos[j] = run_pos[q];
                }
                run[q] = better_earlier(v.raw[j], run[q]);
                r.val[j] = run[q];
                if constexpr (is_float<T>) {
                    count[q] += v.counts[j];
                    r.cnt[j] = count[q];
                }
            }
        }
    }

    // Joins each piece of the prefixes to the extreme of those before it.
    static void join_prefix(runs r, npy_intp part) {
        for (int q = 1; q < parts; q++) {
            const npy_intp c = q * part - 1;
            const double cv = r.val[c];
            const npy_intp cc = r.cnt[c];
            if constexpr (Arg) {
                const npy_intp cp = r.pos[c];
                for (npy_intp j = q * part; j < (q + 1) * part; j++) {
                    const bool own = (r.pos[j] >= 0) & ((cp < 0) | at_least(r.val[j], cv));
                    r.pos[j] = own ? r.pos[j] : cp;
                }
            }
            for (npy_intp j = q * part; j < (q + 1) * part; j++) {
                r.val[j] = better_later(cv, r.val[j]);
            }
            if constexpr (is_float<T>) {
                for (npy_intp j = q * part; j < (q + 1) * part; j++) {
                    r.cnt[j] += cc;
                }
            }
        }
    }

    // Joins each piece of the suffixes to the extreme of those after it.
    static void join_suffix(runs r, npy_intp part) {
        for (int q = parts - 2; q >= 0; q--) {
            const npy_intp c = (q + 1) * part;
            const double cv = r.val[c];
            const npy_intp cc = r.cnt[c];
            if constexpr (Arg) {
                const npy_intp cp = r.pos[c];
                for (npy_intp j = q * part; j < c; j++) {
                    const bool own = (r.pos[j] >= 0) & ((cp < 0) | beyond(r.val[j], cv));
                    r.pos[j] = own ? r.pos[j] : cp;
                }
            }
            for (npy_intp j = q * part; j < c; j++) {
                r.val[j] = better_earlier(r.val[j], cv);
            }
            if constexpr (is_float<T>) {
                for (npy_intp j = q * part; j < c; j++) {
                    r.cnt[j] += cc;
                }
            }
        }
    }

    // The output of a window whose earlier part has the candidate (lv, lp)
    // and whose later part (rv, rp); NaN where `none`.
    static O combine(bool none, npy_intp i, double lv, npy_intp lp, double rv, npy_intp rp) {
        if constexpr (Arg) {
            const bool right_wins = (rp >= 0) & ((lp < 0) | at_least(rv, lv));
            const O v = static_cast<O>(i - (right_wins ? rp : lp));
            return none ? nan_of<O>() : v;
        } else {
            // An empty part holds `worst`, which only ties with an infinity
            // of the same value.
            const O v = static_cast<O>(better_later(lv, rv));
            return none ? nan_of<O>() : v;
        }
    }

    // Short windows: one pass per block, the suffixes of the previous block
    // (value and position together) kept in the scratch block.
    struct extreme_entry {
        double value;
        npy_intp pos;  // its position in the slice; -1: no candidate
    };
    using entry = std::conditional_t<Arg, extreme_entry, double>;
    static constexpr entry empty() {
        if constexpr (Arg) {
            return {worst, -1};
        } else {
            return worst;
        }
    }
    // The suffix extremes of the block x[start .. stop - 1], the later of
    // equal values kept, for the windows of the next block.
    static void block_suffixes(const move_slice<T> &s, npy_intp start, npy_intp stop,
                               entry *suffix) {
        double run = worst;
        npy_intp run_pos = -1;
        for (npy_intp i = stop - 1; i >= start; i--) {
            const T x = s.x(i);
            const double v = static_cast<double>(x);
            if constexpr (Arg) {
                run_pos = select(beyond(v, run) | ((run_pos < 0) & !is_nan(x)), i, run_pos);
                run = better_earlier(v, run);
                suffix[i - start] = {run, run_pos};
            } else {
                run = better_earlier(v, run);
                suffix[i - start] = run;
            }
        }
    }

    // The outputs from position `first` (a multiple of the window) on.
    static void slice_short(const move_slice<T> &s, const move_params &p, void *scratch,
                            npy_intp first = 0) {
        const npy_intp w = p.window;
        const npy_intp m = p.min_count;
        const npy_intp n = s.n;
        // suffix[k]: the extreme of the previous block from its k-th value
        // on. Before the first block there is nothing, and suffix[w] stays
        // empty for good (the window that is exactly one block).
        entry *suffix = static_cast<entry *>(scratch);
        for (npy_intp k = 0; k <= w; k++) {
            suffix[k] = empty();
        }
        npy_intp count = 0;  // non-NaN values in the window (float inputs)
        if (first >= n) {
            return;
        }
        if (first > 0) {
            block_suffixes(s, first - w, first, suffix);
            if constexpr (is_float<T>) {
                for (npy_intp i = first - w; i < first; i++) {
                    count += !is_nan(s.x(i));
                }
            }
        }
        for (npy_intp start = first; start < n; start += w) {
            const npy_intp stop = start + w < n ? start + w : n;
            double best = worst;  // extreme of x[start .. i]
            npy_intp best_pos = -1;
            for (npy_intp i = start; i < stop; i++) {
                const T x = s.x(i);
                const double v = static_cast<double>(x);
                const bool nan = is_nan(x);
                if constexpr (Arg) {
                    // NaN compares false: it never becomes the candidate.
                    best_pos = select(at_least(v, best), i, best_pos);
                }
                best = better_later(best, select(nan, worst, v));
                if constexpr (is_float<T>) {
                    count += !nan;
                    if (i >= w) {
                        count -= !is_nan(s.x(i - w));
                    }
                }
                O &y = s.y(i);
                if (i < m - 1 || (is_float<T> && count < m)) {
                    y = nan_of<O>();
                    continue;
                }
                // The window is x[i - w + 1 .. start - 1] (a suffix of the
                // previous block) followed by x[start .. i]; the later part
                // wins ties.
                const entry left = suffix[i + 1 - start];
                if constexpr (Arg) {
                    const bool right_wins =
                        (best_pos >= 0) & ((left.pos < 0) | at_least(best, left.value));
                    y = static_cast<O>(i - select(right_wins, best_pos, left.pos));
                } else {
                    // An empty part holds `worst`, which only ties with an
                    // infinity of the same value.
                    y = static_cast<O>(better_later(left, best));
                }
            }
            block_suffixes(s, start, stop, suffix);
        }
    }

    static void slice_any(const move_slice<T> &s, const move_params &p, void *scratch) {
        const npy_intp w = p.window;
        const npy_intp m = p.min_count;
        const npy_intp n = s.n;
        runs t[3];
        char *rest = carve(static_cast<char *>(scratch), w + parts, t);
        const block_values v{reinterpret_cast<double *>(rest),
                             reinterpret_cast<double *>(rest) + (w + parts),
                             reinterpret_cast<npy_intp *>(rest) + 2 * (w + parts)};
        runs pre = t[0];
        runs suf_prev = t[1];  // the previous block's suffixes; none before the first
        runs suf_cur = t[2];
        set_empty(suf_prev, 0, w + 1);
        for (npy_intp start = 0; start < n; start += w) {
            const npy_intp len = n - start < w ? n - start : w;
            const bool parted = len >= min_parted;
            const npy_intp part = parted ? (len + parts - 1) / parts : len;
            const npy_intp padded = parted ? parts * part : len;
            auto put = [&](npy_intp j, T x) {
                const double d = static_cast<double>(x);
                const bool nan = d != d;
                v.raw[j] = d;
                v.key[j] = nan ? worst : d;
                v.counts[j] = !nan;
            };
            if (s.contiguous_in()) {
                const T *x = reinterpret_cast<const T *>(s.in) + start;
                for (npy_intp j = 0; j < len; j++) {
                    put(j, x[j]);
                }
            } else {
                for (npy_intp j = 0; j < len; j++) {
                    put(j, s.x(start + j));
                }
            }
            for (npy_intp j = len; j < padded; j++) {
                v.raw[j] = std::numeric_limits<double>::quiet_NaN();
                v.key[j] = worst;
                v.counts[j] = 0;
            }
            if (parted) {
                prefix_pieces<parts>(v, part, start, pre);
                suffix_pieces<parts>(v, part, start, suf_cur);
                join_prefix(pre, part);
                join_suffix(suf_cur, part);
            } else {
                prefix_pieces<1>(v, part, start, pre);
                suffix_pieces<1>(v, part, start, suf_cur);
            }
            // Entry w closes the table for the next block (the padding may
            // have written there).
            set_empty(suf_cur, w, w + 1);
            // The window ending at start + j is x[start + j + 1 - w ..
            // start - 1] (the previous block from j + 1 on; entry w is
            // empty) followed by x[start .. start + j].
            auto value = [&](npy_intp j) {
                const npy_intp i = start + j;
                const bool none =
                    (i < m - 1) | (is_float<T> && suf_prev.cnt[j + 1] + pre.cnt[j] < m);
                return combine(none, i, suf_prev.val[j + 1], Arg ? suf_prev.pos[j + 1] : 0,
                               pre.val[j], Arg ? pre.pos[j] : 0);
            };
            if (s.out_step == static_cast<npy_intp>(sizeof(O))) {
                O *y = &s.y(start);
                for (npy_intp j = 0; j < len; j++) {
                    y[j] = value(j);
                }
            } else {
                for (npy_intp j = 0; j < len; j++) {
                    s.y(start + j) = value(j);
                }
            }
            const runs swap = suf_prev;
            suf_prev = suf_cur;
            suf_cur = swap;
        }
    }

    // A group of g lanes side by side: the same tables with a row of g
    // entries per position, each filled by a loop over the lanes (rows read
    // into a float64 buffer first, so that the loops run over memory).
    static void lanes_group(const move_lanes<T> &s, const move_params &p, void *scratch) {
        const npy_intp w = p.window;
        const npy_intp m = p.min_count;
        const npy_intp n = s.n;
        const npy_intp g = s.count;
        runs t[3];
        char *rest = carve(static_cast<char *>(scratch), (w + 1) * g, t);
        double *row = reinterpret_cast<double *>(rest);
        double *old = row + g;
        npy_intp *cnt = reinterpret_cast<npy_intp *>(old + g);
        runs pre = t[0];
        runs suf_prev = t[1];
        runs suf_cur = t[2];
        set_empty(suf_prev, 0, (w + 1) * g);
        set_empty(suf_cur, w * g, (w + 1) * g);
        for (npy_intp l = 0; l < g; l++) {
            cnt[l] = 0;
        }
        const bool packed = s.in_lane == static_cast<npy_intp>(sizeof(T));
        auto read = [&](double *dst, npy_intp i) {
            const char *src = s.in + i * s.in_step;
            if (packed) {
                for (npy_intp l = 0; l < g; l++) {
                    dst[l] = static_cast<double>(load<T>(src + l * static_cast<npy_intp>(sizeof(T))));
                }
            } else {
                for (npy_intp l = 0; l < g; l++) {
                    dst[l] = static_cast<double>(load<T>(src + l * s.in_lane));
                }
            }
        };
        for (npy_intp start = 0; start < n; start += w) {
            const npy_intp len = n - start < w ? n - start : w;
            for (npy_intp j = 0; j < len; j++) {
                const npy_intp i = start + j;
                read(row, i);
                double *v_row = pre.val + j * g;
                npy_intp *p_row = Arg ? pre.pos + j * g : nullptr;
                for (npy_intp l = 0; l < g; l++) {
                    const double x = row[l];
                    const double best = j == 0 ? worst : v_row[l - g];
                    if constexpr (Arg) {
                        const npy_intp bp = j == 0 ? -1 : p_row[l - g];
                        p_row[l] = at_least(x, best) ? i : bp;
                    }
                    v_row[l] = better_later(best, x != x ? worst : x);
                }
            }
            for (npy_intp j = len - 1; j >= 0; j--) {
                const npy_intp i = start + j;
                read(row, i);
                double *v_row = suf_cur.val + j * g;
                npy_intp *p_row = Arg ? suf_cur.pos + j * g : nullptr;
                for (npy_intp l = 0; l < g; l++) {
                    const double x = row[l];
                    // Row len is empty for the last (short) block too: the
                    // next block never reads it.
                    const double run = j == len - 1 ? worst : v_row[l + g];
                    if constexpr (Arg) {
                        const npy_intp rp = j == len - 1 ? -1 : p_row[l + g];
                        p_row[l] = beyond(x, run) | ((rp < 0) & (x == x)) ? i : rp;
                    }
                    v_row[l] = better_earlier(x, run);
                }
            }
            for (npy_intp j = 0; j < len; j++) {
                const npy_intp i = start + j;
                const double *lv = suf_prev.val + (j + 1) * g;
                const npy_intp *lp = Arg ? suf_prev.pos + (j + 1) * g : nullptr;
                const double *rv = pre.val + j * g;
                const npy_intp *rp = Arg ? pre.pos + j * g : nullptr;
                if constexpr (is_float<T>) {
                    read(row, i);
                    for (npy_intp l = 0; l < g; l++) {
                        cnt[l] += row[l] == row[l];
                    }
                    if (start > 0) {
                        read(old, i - w);
                        for (npy_intp l = 0; l < g; l++) {
                            cnt[l] -= old[l] == old[l];
                        }
                    }
                }
                const bool lead = i < m - 1;
                auto value = [&](npy_intp l) {
                    const bool none = lead | (is_float<T> && cnt[l] < m);
                    return combine(none, i, lv[l], Arg ? lp[l] : 0, rv[l], Arg ? rp[l] : 0);
                };
                char *out = s.out + i * s.out_step;
                if (s.out_lane == static_cast<npy_intp>(sizeof(O))) {
                    O *y = reinterpret_cast<O *>(out);
                    for (npy_intp l = 0; l < g; l++) {
                        y[l] = value(l);
                    }
                } else {
                    for (npy_intp l = 0; l < g; l++) {
                        *reinterpret_cast<O *>(out + l * s.out_lane) = value(l);
                    }
                }
            }
            const runs swap = suf_prev;
            suf_prev = suf_cur;
            suf_cur = swap;
        }
    }

    static void lanes_any(const move_lanes<T> &s, const move_params &p, void *scratch) {
        const npy_intp g = lane_group(p.window);
        for (npy_intp c = 0; c < s.count; c += g) {
            move_lanes<T> part = s;
            part.in += c * s.in_lane;
            part.out += c * s.out_lane;
            part.count = s.count - c < g ? s.count - c : g;
            lanes_group(part, p, scratch);
        }
    }

    // Eight blocks side by side (AVX-512). The running extremes of one
    // block are a chain of dependent compares; eight neighbouring blocks
    // have independent chains, so they run in the eight lanes of a vector,
    // lane q holding block b0 + q. A contiguous slice is read and written
    // in tiles of 8 x 8 transposed in registers; other layouts gather and
    // scatter with a stride of one block. A backward pass fills the suffix
    // table; a forward pass keeps the running prefix and meets each
    // window's suffix part, that of block b0 + q - 1: lane q - 1 of the same
    // row, or for lane 0 a block of the previous group. A row holds nine
    // entries, that block's and then the group's eight, so one unaligned
    // load reads the row shifted by a lane. Every comparison is the scalar
    // walk's, on the same float64 values, so the results are the same bits.
    // When the whole blocks are not a multiple of eight, a last group
    // overlaps the one before it (the outputs there come out the same); a
    // last, partial block takes the scalar walk. Windows above max_grouped
    // keep the scalar walk, whose tables are smaller.
    static constexpr npy_intp group = 8;
    static constexpr npy_intp max_grouped = 4096;
    static bool grouped(const move_slice<T> &s, npy_intp w) {
        return w <= max_grouped && s.n / w >= group;
    }
    // Rows 0 .. w of values, counts and positions (see slice_groups).
    static constexpr npy_intp row = group + 1;
    static npy_intp group_bytes(npy_intp w) { return (w + 1) * row * 3 * 8; }

    CORVANE_AVX512 static __m512d gather_values(const char *base, __m512i off) {
        if constexpr (std::is_same_v<T, double>) {
            return _mm512_i64gather_pd(off, base, 1);
        } else if constexpr (std::is_same_v<T, float>) {
            return _mm512_cvtps_pd(_mm512_i64gather_ps(off, base, 1));
        } else if constexpr (sizeof(T) == 8) {
            return _mm512_cvtepi64_pd(_mm512_i64gather_epi64(off, base, 1));
        } else {
            return _mm512_cvtepi32_pd(_mm512_i64gather_epi32(off, base, 1));
        }
    }
    CORVANE_AVX512 static __mmask8 less(__m512d a, __m512d b) {
        return _mm512_cmp_pd_mask(a, b, Max ? _CMP_GT_OQ : _CMP_LT_OQ);
    }
    CORVANE_AVX512 static __mmask8 less_equal(__m512d a, __m512d b) {
        return _mm512_cmp_pd_mask(a, b, Max ? _CMP_GE_OQ : _CMP_LE_OQ);
    }
    // a < b ? a : b (Max: a > b ? a : b), the scalar better_later and
    // better_earlier in one instruction.
    CORVANE_AVX512 static __m512d pick(__m512d a, __m512d b) {
        return Max ? _mm512_max_pd(a, b) : _mm512_min_pd(a, b);
    }
    // Eight values of T from p (the first k of them; the rest read as 0)
    // as float64.
    CORVANE_AVX512 static __m512d load_row(const char *p, __mmask8 k) {
        if constexpr (std::is_same_v<T, double>) {
            return _mm512_maskz_loadu_pd(k, p);
        } else if constexpr (std::is_same_v<T, float>) {
            return _mm512_cvtps_pd(_mm256_maskz_loadu_ps(k, p));
        } else if constexpr (sizeof(T) == 8) {
            return _mm512_cvtepi64_pd(_mm512_maskz_loadu_epi64(k, p));
        } else {
            return _mm512_cvtepi32_pd(_mm256_maskz_loadu_epi32(k, p));
        }
    }
    // Output values in float64 (exact in O) to eight outputs: the first k
    // at p, or at p + off for the gathered layout.
    CORVANE_AVX512 static void store_row(char *p, __mmask8 k, __m512d y) {
        if constexpr (std::is_same_v<O, float>) {
            _mm256_mask_storeu_ps(p, k, _mm512_cvtpd_ps(y));
        } else {
            _mm512_mask_storeu_pd(p, k, y);
        }
    }
    CORVANE_AVX512 static void scatter_row(char *p, __m512i off, __m512d y) {
        if constexpr (std::is_same_v<O, float>) {
            _mm512_i64scatter_ps(p, off, _mm512_cvtpd_ps(y), 1);
        } else {
            _mm512_i64scatter_pd(p, off, y, 1);
        }
    }
    // Rows to columns of an 8 x 8 tile, in place (its own inverse).
    CORVANE_AVX512 static void transpose(__m512d *r) {
        __m512d a[8];
        for (int k = 0; k < 8; k += 2) {
            a[k] = _mm512_unpacklo_pd(r[k], r[k + 1]);
            a[k + 1] = _mm512_unpackhi_pd(r[k], r[k + 1]);
        }
        const __m512i even = _mm512_set_epi64(13, 12, 5, 4, 9, 8, 1, 0);
        const __m512i odd = _mm512_set_epi64(15, 14, 7, 6, 11, 10, 3, 2);
        __m512d b[8];
        for (int h = 0; h < 8; h += 4) {
            b[h] = _mm512_permutex2var_pd(a[h], even, a[h + 2]);      // columns 0, 4
            b[h + 1] = _mm512_permutex2var_pd(a[h], odd, a[h + 2]);   // columns 2, 6
            b[h + 2] = _mm512_permutex2var_pd(a[h + 1], even, a[h + 3]);  // 1, 5
            b[h + 3] = _mm512_permutex2var_pd(a[h + 1], odd, a[h + 3]);   // 3, 7
        }
        r[0] = _mm512_shuffle_f64x2(b[0], b[4], 0x44);
        r[4] = _mm512_shuffle_f64x2(b[0], b[4], 0xEE);
        r[2] = _mm512_shuffle_f64x2(b[1], b[5], 0x44);
        r[6] = _mm512_shuffle_f64x2(b[1], b[5], 0xEE);
        r[1] = _mm512_shuffle_f64x2(b[2], b[6], 0x44);
        r[5] = _mm512_shuffle_f64x2(b[2], b[6], 0xEE);
        r[3] = _mm512_shuffle_f64x2(b[3], b[7], 0x44);
        r[7] = _mm512_shuffle_f64x2(b[3], b[7], 0xEE);
    }

    // Returns the first position it has not written (a multiple of w).
    CORVANE_AVX512 __attribute__((flatten)) static npy_intp
    slice_groups(const move_slice<T> &s, const move_params &p, void *scratch) {
        const npy_intp w = p.window;
        const npy_intp m = p.min_count;
        const npy_intp groups = s.n / w / group;
        // Contiguous slices read and write tiles of 8 x 8 (eight offsets of
        // eight blocks) and transpose them; others gather and scatter.
        const bool tiled = s.in_step == static_cast<npy_intp>(sizeof(T)) &&
                           s.out_step == static_cast<npy_intp>(sizeof(O));
        const npy_intp blocks = s.n / w;
        // Row j: entry 0, the suffix from offset j of the block before the
        // group; entries 1 .. 8, those of the group's blocks. Row w (the
        // window that is exactly one block) is empty for good.
        double *tv = static_cast<double *>(scratch);
        int64_t *tc = reinterpret_cast<int64_t *>(tv + (w + 1) * row);
        int64_t *tp = tc + (w + 1) * row;
        for (npy_intp e = w * row; e < (w + 1) * row; e++) {
            tv[e] = worst;
            tc[e] = 0;
            tp[e] = -1;
        }
        const __m512d worst_v = _mm512_set1_pd(worst);
        const __m512d nan_v = _mm512_set1_pd(nan_of<double>());
        const __m512i none_pos = _mm512_set1_epi64(-1);
        const __m512i zero = _mm512_setzero_si512();
        const __m512i one = _mm512_set1_epi64(1);
        const __m512i lead = _mm512_set1_epi64(m - 1);
        const __m512i need = _mm512_set1_epi64(m);
        const __m512i lane = _mm512_set_epi64(7, 6, 5, 4, 3, 2, 1, 0);
        const __m512i in_lane = _mm512_mullo_epi64(lane, _mm512_set1_epi64(w * s.in_step));
        const __m512i out_lane = _mm512_mullo_epi64(lane, _mm512_set1_epi64(w * s.out_step));
        const __m512i pos_lane = _mm512_mullo_epi64(lane, _mm512_set1_epi64(w));
        npy_intp carry = 0;  // the entry of the block before the group; 0: none
        for (npy_intp g = 0; g < groups + (blocks % group != 0); g++) {
            const npy_intp first_block = g < groups ? g * group : blocks - group;
            if (g > 0) {
                carry = first_block - (g - 1) * group;
            }
            const npy_intp b0 = first_block * w;  // first position of the group
            const char *in = s.in + b0 * s.in_step;
            char *out = s.out + b0 * s.out_step;
            const __m512i pos0 = _mm512_add_epi64(pos_lane, _mm512_set1_epi64(b0));
            // Offsets 0 .. w - 1 of the eight blocks: tile rows from
            // offset j0 on, transposed to one column per offset.
            auto load_tile = [&](npy_intp j0, __mmask8 k, __m512d *c) CORVANE_AVX512 {
                for (npy_intp q = 0; q < group; q++) {
                    c[q] = load_row(in + (q * w + j0) * static_cast<npy_intp>(sizeof(T)), k);
                }
                transpose(c);
            };
            auto gather_column = [&](npy_intp j) CORVANE_AVX512 {
                return gather_values(in, _mm512_add_epi64(in_lane, _mm512_set1_epi64(j * s.in_step)));
            };

            __m512d run = worst_v;
            __m512i run_pos = none_pos;
            __m512i run_cnt = zero;
            auto suffix_step = [&](npy_intp j, __m512d v) CORVANE_AVX512 {
                // The previous group's entry for the block before this group
                // moves to entry 0.
                tv[j * row] = carry ? tv[j * row + carry] : worst;
                if constexpr (is_float<T>) {
                    tc[j * row] = carry ? tc[j * row + carry] : 0;
                }
                if constexpr (Arg) {
                    tp[j * row] = carry ? tp[j * row + carry] : -1;
                }
                const __mmask8 real = _mm512_cmp_pd_mask(v, v, _CMP_ORD_Q);
                if constexpr (Arg) {
                    const __mmask8 take =
                        less(v, run) | (_mm512_cmplt_epi64_mask(run_pos, zero) & real);
                    run_pos = _mm512_mask_mov_epi64(run_pos, take,
                                                    _mm512_add_epi64(pos0, _mm512_set1_epi64(j)));
                    _mm512_storeu_si512(tp + j * row + 1, run_pos);
                }
                run = pick(v, run);
                _mm512_storeu_pd(tv + j * row + 1, run);
                if constexpr (is_float<T>) {
                    run_cnt = _mm512_mask_add_epi64(run_cnt, real, run_cnt, one);
                    _mm512_storeu_si512(tc + j * row + 1, run_cnt);
                }
            };

            __m512d best = worst_v;
            __m512i best_pos = none_pos;
            __m512i best_cnt = zero;
            // The outputs at offset j of the eight blocks, in float64.
            auto prefix_step = [&](npy_intp j, __m512d v) CORVANE_AVX512 {
                const __m512i i = _mm512_add_epi64(pos0, _mm512_set1_epi64(j));
                const __mmask8 real = _mm512_cmp_pd_mask(v, v, _CMP_ORD_Q);
                if constexpr (Arg) {
                    best_pos = _mm512_mask_mov_epi64(best_pos, less_equal(v, best), i);
                }
                // A NaN leaves the extreme as it is: the scalar walk's
                // better_later(best, worst) gives the same bits.
                best = Max ? _mm512_mask_max_pd(best, real, best, v)
                           : _mm512_mask_min_pd(best, real, best, v);
                const __m512d lv = _mm512_loadu_pd(tv + (j + 1) * row);
                // Only the first group has outputs before min_count values.
                __mmask8 none = b0 == 0 ? _mm512_cmplt_epi64_mask(i, lead) : 0;
                if constexpr (is_float<T>) {
                    best_cnt = _mm512_mask_add_epi64(best_cnt, real, best_cnt, one);
                    const __m512i lc = _mm512_loadu_si512(tc + (j + 1) * row);
                    none |= _mm512_cmplt_epi64_mask(_mm512_add_epi64(lc, best_cnt), need);
                }
                __m512d y;
                if constexpr (Arg) {
                    const __m512i lp = _mm512_loadu_si512(tp + (j + 1) * row);
                    const __mmask8 right_wins =
                        _mm512_cmpge_epi64_mask(best_pos, zero) &
                        (_mm512_cmplt_epi64_mask(lp, zero) | less_equal(best, lv));
                    // Distances below 2^53: exact in float64, and so the
                    // same float32 as converted directly.
                    y = _mm512_cvtepi64_pd(
                        _mm512_sub_epi64(i, _mm512_mask_mov_epi64(lp, right_wins, best_pos)));
                } else {
                    y = pick(lv, best);
                }
                return _mm512_mask_mov_pd(y, none, nan_v);
            };

            if (tiled) {
                for (npy_intp j0 = (w - 1) / group * group; j0 >= 0; j0 -= group) {
                    const npy_intp k = w - j0 < group ? w - j0 : group;
                    __m512d c[group];
                    load_tile(j0, static_cast<__mmask8>((1u << k) - 1), c);
                    for (npy_intp t = k - 1; t >= 0; t--) {
                        suffix_step(j0 + t, c[t]);
                    }
                }
                for (npy_intp j0 = 0; j0 < w; j0 += group) {
                    const npy_intp k = w - j0 < group ? w - j0 : group;
                    const __mmask8 mask = static_cast<__mmask8>((1u << k) - 1);
                    __m512d c[group];
                    load_tile(j0, mask, c);
                    for (npy_intp t = 0; t < k; t++) {
                        c[t] = prefix_step(j0 + t, c[t]);
                    }
                    transpose(c);
                    for (npy_intp q = 0; q < group; q++) {
                        store_row(out + (q * w + j0) * static_cast<npy_intp>(sizeof(O)), mask, c[q]);
                    }
                }
            } else {
                for (npy_intp j = w - 1; j >= 0; j--) {
                    suffix_step(j, gather_column(j));
                }
                for (npy_intp j = 0; j < w; j++) {
                    scatter_row(out, _mm512_add_epi64(out_lane, _mm512_set1_epi64(j * s.out_step)),
                                prefix_step(j, gather_column(j)));
                }
            }
        }
        return blocks * w;
    }

    CORVANE_AVX512 __attribute__((flatten)) static void slice_avx512(const move_slice<T> &s,
                                                                     const move_params &p,
                                                                     void *scratch) {
        slice_any(s, p, scratch);
    }
    // The pieces pay for long windows of the values alone: the positions'
    // joins cost more than their chains save (measured).
    static void slice(const move_slice<T> &s, const move_params &p, void *scratch) {
        using strips = extreme_strips<move_extreme_op>;
        if (strips::chain_pays(s, p.window) && have_avx512()) {
            slice_short(s, p, scratch, strips::chain(s, p, scratch));
        } else if (grouped(s, p.window) && have_avx512()) {
            slice_short(s, p, scratch, slice_groups(s, p, scratch));
        } else if (Arg || p.window < min_parted || !tabled(p.window)) {
            slice_short(s, p, scratch);
        } else if (have_avx512()) {
            slice_avx512(s, p, scratch);
        } else {
            slice_any(s, p, scratch);
        }
    }
    CORVANE_AVX512 __attribute__((flatten)) static void lanes_avx512(const move_lanes<T> &s,
                                                                     const move_params &p,
                                                                     void *scratch) {
        lanes_any(s, p, scratch);
    }
    static void lanes(const move_lanes<T> &s, const move_params &p, void *scratch) {
        using strips = extreme_strips<move_extreme_op>;
        const npy_intp g = lane_group(p.window);
        scratch_block tables;
        if (tabled(p.window) && have_avx512() && strips::fits(s) &&
            tables.allocate(strips::table_bytes(p.window, s.count))) {
            strips::run(s, p, tables.get());
        } else if (!tabled(p.window) ||
            !tables.allocate(lanes_bytes(p.window, s.count < g ? s.count : g))) {
            // One lane after the other (same results), in the call's scratch.
            for (npy_intp l = 0; l < s.count; l++) {
                slice_short(s.lane(l), p, scratch);
            }
        } else if (have_avx512()) {
            lanes_avx512(s, p, tables.get());
        } else {
            lanes_any(s, p, tables.get());
        }
    }
};

template <class T>
inline constexpr move_kernel move_min_axis = extreme_run<move_extreme_op<T, false, false>>;
template <class T>
inline constexpr move_kernel move_max_axis = extreme_run<move_extreme_op<T, true, false>>;
template <class T>
inline constexpr move_kernel move_argmin_axis = extreme_run<move_extreme_op<T, false, true>>;
template <class T>
inline constexpr move_kernel move_argmax_axis = extreme_run<move_extreme_op<T, true, true>>;

}  // namespace corvane
