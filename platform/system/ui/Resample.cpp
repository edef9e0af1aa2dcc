// Two-pass image scaling with fixed-point kernels, portable and AVX2, for GDI and GDI+.
#include "platform/system/ui/Resample.h"

#include "platform/system/ui/RowWorker.h"

#include <immintrin.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cmath>
#include <cstring>
#include <vector>

namespace lumacap::ui {
namespace {

constexpr int kBits = 14;
constexpr int kOne = 1 << kBits;
constexpr int kRound = 1 << (kBits - 1);

std::atomic<bool> g_vectorAllowed{true};
std::atomic<long> g_splitMinimum{kDefaultResampleSplitMinimum};

bool CpuHasAvx2() {
    static const bool has = __builtin_cpu_supports("avx2") != 0;
    return has;
}

bool UseVector() {
    return g_vectorAllowed.load(std::memory_order_relaxed) && CpuHasAvx2();
}

double KernelRadius(ResampleFilter f) {
    switch (f) {
        case ResampleFilter::Bilinear:
            return 1.0;
        case ResampleFilter::Bicubic:
            return 2.0;
        case ResampleFilter::Nearest:
            break;
    }
    return 0.5;
}

double Kernel(ResampleFilter f, double x) {
    x = std::fabs(x);
    if (f == ResampleFilter::Bilinear) return x < 1.0 ? 1.0 - x : 0.0;
    // Keys' cubic convolution with a = -0.5: interpolates, reproduces linear ramps, and its only
    // overshoot is the small negative lobe between 1 and 2.
    constexpr double a = -0.5;
    if (x < 1.0) return ((a + 2.0) * x - (a + 3.0)) * x * x + 1.0;
    if (x < 2.0) return ((a * x - 5.0 * a) * x + 8.0 * a) * x - 4.0 * a;
    return 0.0;
}

// The weights of one axis for destination positions [first, first + count).
struct AxisFilter {
    int taps = 1;
    bool identity = false;         // same size: position i takes source i, weight one
    std::vector<int> start;        // first source index per position, relative to the source rect
    std::vector<int16_t> weights;  // `taps` per position, Q14, summing to exactly kOne
    std::vector<double> work;      // one position's weights while they are computed
    // The vector path's weights, laid out as its multiply-add takes them: per position, per two
    // taps k, k+1, the pair (w[k], w[k+1]) four times.
    std::vector<int16_t> pairs;
    int minStart = 0;
    int maxEnd = 0;  // one past the last source index referenced
};

void MakeAxisFilter(AxisFilter& a, int srcLen, int dstLen, int first, int count, ResampleFilter f,
                    bool widen, int multiple) {
    a.identity = false;
    a.start.resize(static_cast<size_t>(count));
    const double scale = static_cast<double>(srcLen) / dstLen;
    if (srcLen == dstLen || f == ResampleFilter::Nearest) {
        a.identity = srcLen == dstLen;
        a.taps = 1;
        a.weights.assign(static_cast<size_t>(count), static_cast<int16_t>(kOne));
        for (int i = 0; i < count; ++i) {
            const int pos = first + i;
            const int j = a.identity ? pos : static_cast<int>(std::floor((pos + 0.5) * scale));
            a.start[static_cast<size_t>(i)] = std::clamp(j, 0, srcLen - 1);
        }
    } else {
        const double fscale = (widen && scale > 1.0) ? scale : 1.0;
        const double support = KernelRadius(f) * fscale;
        // Source pixel j has its centre at j + 0.5; it contributes while that centre is within
        // the support of the destination centre mapped into the source.
        auto range = [&](int pos, int* lo, int* hi) {
            const double center = (pos + 0.5) * scale;
            *lo = static_cast<int>(std::floor(center - support - 0.5)) + 1;
            *hi = static_cast<int>(std::ceil(center + support - 0.5)) - 1;
            if (*hi < *lo) *hi = *lo;
        };
        int taps = 1;
        for (int i = 0; i < count; ++i) {
            int lo, hi;
            range(first + i, &lo, &hi);
            taps = std::max(taps, hi - lo + 1);
        }
        if (multiple > 1) taps = (taps + multiple - 1) / multiple * multiple;
        a.taps = taps;
        a.weights.assign(static_cast<size_t>(count) * static_cast<size_t>(taps), 0);
        std::vector<double>& w = a.work;
        w.assign(static_cast<size_t>(taps), 0.0);
        for (int i = 0; i < count; ++i) {
            const int pos = first + i;
            const double center = (pos + 0.5) * scale;
            int lo, hi;
            range(pos, &lo, &hi);
            double sum = 0.0;
            const int n = hi - lo + 1;
            for (int k = 0; k < n; ++k) {
                w[static_cast<size_t>(k)] = Kernel(f, (lo + k + 0.5 - center) / fscale);
                sum += w[static_cast<size_t>(k)];
            }
            int16_t* q = &a.weights[static_cast<size_t>(i) * static_cast<size_t>(taps)];
            if (sum == 0.0) {
                q[0] = static_cast<int16_t>(kOne);
            } else {
                int total = 0;
                int largest = 0;
                for (int k = 0; k < n; ++k) {
                    const long v = std::lround(w[static_cast<size_t>(k)] / sum * kOne);
                    q[k] = static_cast<int16_t>(std::clamp<long>(v, -32768, 32767));
                    total += q[k];
                    if (std::abs(q[k]) > std::abs(q[largest])) largest = k;
                }
                // Rounding must not change the total, or flat areas would drift by a step.
                q[largest] = static_cast<int16_t>(q[largest] + (kOne - total));
            }
            a.start[static_cast<size_t>(i)] = lo;
        }
    }
    a.minStart = a.start.empty() ? 0 : a.start.front();
    a.maxEnd = a.minStart + 1;
    for (int s : a.start) {
        a.minStart = std::min(a.minStart, s);
        a.maxEnd = std::max(a.maxEnd, s + a.taps);
    }
}

// The axis filters a thread made last, by what they were made for: a recording scales the same
// sources into the same rectangles frame after frame, so its weights are computed once, and the
// memory they take is reused.
struct AxisKey {
    int srcLen, dstLen, first, count, multiple;
    ResampleFilter filter;
    bool widen;
    bool rebased;
    bool operator==(const AxisKey&) const = default;
};

class AxisCache {
public:
    // The filter for `key`; starts are relative to the lowest start when `key.rebased`.
    const AxisFilter& Get(const AxisKey& key) {
        for (Entry& e : m_entries)
            if (e.valid && e.key == key) return e.filter;
        Entry& e = m_entries[m_next];
        m_next = (m_next + 1) % m_entries.size();
        e.valid = false;
        MakeAxisFilter(e.filter, key.srcLen, key.dstLen, key.first, key.count, key.filter,
                       key.widen, key.multiple);
        if (key.rebased)
            for (int& s : e.filter.start) s -= e.filter.minStart;
        AxisFilter& f = e.filter;
        f.pairs.clear();
        if (key.multiple == 2 && f.taps % 2 == 0) {
            // Positions in twos (a last one alone is paired with itself); per two taps, a's
            // (w[k], w[k+1]) four times then b's four times: one 256-bit load per two taps.
            const size_t count = f.start.size(), taps = static_cast<size_t>(f.taps);
            f.pairs.resize((count + 1) / 2 * taps * 8);
            int16_t* d = f.pairs.data();
            for (size_t a = 0; a < count; a += 2) {
                const int16_t* wa = &f.weights[a * taps];
                const int16_t* wb = &f.weights[std::min(a + 1, count - 1) * taps];
                for (size_t k = 0; k < taps; k += 2)
                    for (const int16_t* w : {wa, wb})
                        for (int copy = 0; copy < 4; ++copy, d += 2) {
                            d[0] = w[k];
                            d[1] = w[k + 1];
                        }
            }
        }
        e.key = key;
        e.valid = true;
        return e.filter;
    }

private:
    struct Entry {
        AxisKey key{};
        AxisFilter filter;
        bool valid = false;
    };
    std::array<Entry, 8> m_entries;
    size_t m_next = 0;
};

// Rows a scaling job works in, kept per thread between jobs.
struct Scratch {
    AxisCache horizontal, vertical;  // apart, so getting one never evicts the other
    std::vector<uint32_t> outRow, srcRow, ring;
    std::vector<uint8_t> columnRow;  // one vertically filtered source row, in the source's format
    std::vector<int> ringRow;
    std::vector<const uint8_t*> rows;
};

Scratch& ThreadScratch() {
    thread_local Scratch scratch;
    return scratch;
}

inline uint8_t Clamp255(int v) {
    return static_cast<uint8_t>(v < 0 ? 0 : (v > 255 ? 255 : v));
}

// ---- portable kernels ---------------------------------------------------------------------------

void Expand24Portable(const uint8_t* s, uint32_t* d, int n) {
    for (int i = 0; i < n; ++i, s += 3)
        d[i] = s[0] | (s[1] << 8) | (static_cast<uint32_t>(s[2]) << 16);
}

void Pack24Portable(const uint32_t* s, uint8_t* d, int n) {
    for (int i = 0; i < n; ++i, d += 3) {
        d[0] = static_cast<uint8_t>(s[i]);
        d[1] = static_cast<uint8_t>(s[i] >> 8);
        d[2] = static_cast<uint8_t>(s[i] >> 16);
    }
}

void HorizontalPortable(const uint32_t* src, const AxisFilter& h, uint32_t* out, int count) {
    const int taps = h.taps;
    for (int i = 0; i < count; ++i) {
        const uint8_t* p = reinterpret_cast<const uint8_t*>(src + h.start[static_cast<size_t>(i)]);
        const int16_t* w = &h.weights[static_cast<size_t>(i) * static_cast<size_t>(taps)];
        int b = kRound, g = kRound, r = kRound, x = kRound;
        for (int k = 0; k < taps; ++k, p += 4) {
            b += p[0] * w[k];
            g += p[1] * w[k];
            r += p[2] * w[k];
            x += p[3] * w[k];
        }
        out[i] = Clamp255(b >> kBits) | (Clamp255(g >> kBits) << 8) | (Clamp255(r >> kBits) << 16) |
                 (static_cast<uint32_t>(Clamp255(x >> kBits)) << 24);
    }
}

void VerticalBytes(const uint8_t* const* rows, const int16_t* w, int taps, uint8_t* out, int from,
                   int nbytes) {
    for (int x = from; x < nbytes; ++x) {
        int s = kRound;
        for (int k = 0; k < taps; ++k) s += rows[k][x] * w[k];
        out[x] = Clamp255(s >> kBits);
    }
}

void VerticalPortable(const uint8_t* const* rows, const int16_t* w, int taps, uint8_t* out,
                      int nbytes) {
    VerticalBytes(rows, w, taps, out, 0, nbytes);
}

// ---- AVX2 kernels -------------------------------------------------------------------------------

__attribute__((target("avx2"))) void Expand24Avx2(const uint8_t* s, uint32_t* d, int n) {
    const __m128i shuf = _mm_setr_epi8(0, 1, 2, -1, 3, 4, 5, -1, 6, 7, 8, -1, 9, 10, 11, -1);
    int i = 0;
    // Each load reads 16 bytes for 12: stop while six pixels remain so it never reads past the row.
    for (; i + 6 <= n; i += 4, s += 12) {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(d + i), _mm_shuffle_epi8(v, shuf));
    }
    Expand24Portable(s, d + i, n - i);
}

__attribute__((target("avx2"))) void Pack24Avx2(const uint32_t* s, uint8_t* d, int n) {
    // Eight pixels per step: each lane's four narrowed to twelve bytes, the two twelves joined by
    // one permute and stored as 16 + 8 bytes, so nothing is written past the row.
    const __m256i shuf = _mm256_setr_epi8(0, 1, 2, 4, 5, 6, 8, 9, 10, 12, 13, 14, -1, -1, -1, -1, 0,
                                          1, 2, 4, 5, 6, 8, 9, 10, 12, 13, 14, -1, -1, -1, -1);
    const __m256i join = _mm256_setr_epi32(0, 1, 2, 4, 5, 6, 3, 7);
    int i = 0;
    for (; i + 8 <= n; i += 8, d += 24) {
        const __m256i v = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(s + i));
        const __m256i p = _mm256_permutevar8x32_epi32(_mm256_shuffle_epi8(v, shuf), join);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(d), _mm256_castsi256_si128(p));
        _mm_storel_epi64(reinterpret_cast<__m128i*>(d + 16), _mm256_extracti128_si256(p, 1));
    }
    Pack24Portable(s + i, d, n - i);
}

// Two positions at once, one per 128-bit lane: per two taps, the pixels' channels paired and
// widened to 16 bits by one byte shuffle (B0 B1 G0 G1 R0 R1 X0 X1), multiplied-added with the
// weight pairs laid out beforehand. Each lane ends with its position's four channel sums, so
// nothing has to cross lanes until the results are packed.
__attribute__((target("avx2"))) inline __m256i HorizontalPairSums(const uint32_t* pa,
                                                                  const uint32_t* pb,
                                                                  const int16_t* w, int taps) {
    const __m256i lo = _mm256_setr_epi8(0, -1, 4, -1, 1, -1, 5, -1, 2, -1, 6, -1, 3, -1, 7, -1, 0,
                                        -1, 4, -1, 1, -1, 5, -1, 2, -1, 6, -1, 3, -1, 7, -1);
    const __m256i hi =
        _mm256_setr_epi8(8, -1, 12, -1, 9, -1, 13, -1, 10, -1, 14, -1, 11, -1, 15, -1, 8, -1, 12,
                         -1, 9, -1, 13, -1, 10, -1, 14, -1, 11, -1, 15, -1);
    __m256i acc = _mm256_setzero_si256();
    int k = 0;
    for (; k + 4 <= taps; k += 4, w += 32) {
        const __m256i px = _mm256_inserti128_si256(
            _mm256_castsi128_si256(_mm_loadu_si128(reinterpret_cast<const __m128i*>(pa + k))),
            _mm_loadu_si128(reinterpret_cast<const __m128i*>(pb + k)), 1);
        acc = _mm256_add_epi32(
            acc, _mm256_madd_epi16(_mm256_shuffle_epi8(px, lo),
                                   _mm256_loadu_si256(reinterpret_cast<const __m256i*>(w))));
        acc = _mm256_add_epi32(
            acc, _mm256_madd_epi16(_mm256_shuffle_epi8(px, hi),
                                   _mm256_loadu_si256(reinterpret_cast<const __m256i*>(w + 16))));
    }
    if (k < taps) {
        const __m256i px = _mm256_inserti128_si256(
            _mm256_castsi128_si256(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(pa + k))),
            _mm_loadl_epi64(reinterpret_cast<const __m128i*>(pb + k)), 1);
        acc = _mm256_add_epi32(
            acc, _mm256_madd_epi16(_mm256_shuffle_epi8(px, lo),
                                   _mm256_loadu_si256(reinterpret_cast<const __m256i*>(w))));
    }
    return _mm256_srai_epi32(_mm256_add_epi32(acc, _mm256_set1_epi32(kRound)), kBits);
}

// Four positions per round: two pairs' sums narrowed together and put in order by one permute.
__attribute__((target("avx2"))) void HorizontalAvx2(const uint32_t* src, const AxisFilter& h,
                                                    uint32_t* out, int count) {
    const int taps = h.taps;                                  // a multiple of 2
    const size_t pairStride = static_cast<size_t>(taps) * 8;  // int16 per two positions
    const int16_t* w = h.pairs.data();
    const int* start = h.start.data();
    const __m256i order = _mm256_setr_epi32(0, 4, 1, 5, 2, 6, 3, 7);
    int i = 0;
    for (; i + 4 <= count; i += 4, w += 2 * pairStride) {
        const __m256i ab = HorizontalPairSums(src + start[i], src + start[i + 1], w, taps);
        const __m256i cd =
            HorizontalPairSums(src + start[i + 2], src + start[i + 3], w + pairStride, taps);
        // Lanes (a c | b d) as words, then bytes; the permute puts the dwords as a b c d.
        const __m256i bytes =
            _mm256_packus_epi16(_mm256_packs_epi32(ab, cd), _mm256_setzero_si256());
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + i),
                         _mm256_castsi256_si128(_mm256_permutevar8x32_epi32(bytes, order)));
    }
    for (; i < count; i += 2, w += pairStride) {
        const bool both = i + 1 < count;
        __m256i s = HorizontalPairSums(src + start[i], src + start[both ? i + 1 : i], w, taps);
        s = _mm256_packus_epi16(_mm256_packs_epi32(s, s), s);
        out[i] = static_cast<uint32_t>(_mm256_cvtsi256_si32(s));
        if (both) out[i + 1] = static_cast<uint32_t>(_mm256_extract_epi32(s, 4));
    }
}

// Two rows per step: bytes of rows k and k+1 interleaved, widened, multiplied-added with the
// weight pair; 32 bytes per iteration. The unpack/pack pairs keep bytes in order across lanes.
__attribute__((target("avx2"))) void VerticalAvx2(const uint8_t* const* rows, const int16_t* w,
                                                  int taps, uint8_t* out, int nbytes) {
    const __m256i zero = _mm256_setzero_si256();
    const __m256i round = _mm256_set1_epi32(kRound);
    int x = 0;
    for (; x + 32 <= nbytes; x += 32) {
        __m256i s0 = round, s1 = round, s2 = round, s3 = round;
        int k = 0;
        for (; k + 2 <= taps; k += 2) {
            const __m256i mmk = _mm256_set1_epi32(
                static_cast<int>(static_cast<uint16_t>(w[k]) |
                                 (static_cast<uint32_t>(static_cast<uint16_t>(w[k + 1])) << 16)));
            const __m256i a = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(rows[k] + x));
            const __m256i b = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(rows[k + 1] + x));
            const __m256i lo = _mm256_unpacklo_epi8(a, b);
            const __m256i hi = _mm256_unpackhi_epi8(a, b);
            s0 = _mm256_add_epi32(s0, _mm256_madd_epi16(_mm256_unpacklo_epi8(lo, zero), mmk));
            s1 = _mm256_add_epi32(s1, _mm256_madd_epi16(_mm256_unpackhi_epi8(lo, zero), mmk));
            s2 = _mm256_add_epi32(s2, _mm256_madd_epi16(_mm256_unpacklo_epi8(hi, zero), mmk));
            s3 = _mm256_add_epi32(s3, _mm256_madd_epi16(_mm256_unpackhi_epi8(hi, zero), mmk));
        }
        if (k < taps) {
            const __m256i mmk = _mm256_set1_epi32(static_cast<int>(static_cast<uint16_t>(w[k])));
            const __m256i a = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(rows[k] + x));
            const __m256i lo = _mm256_unpacklo_epi8(a, zero);
            const __m256i hi = _mm256_unpackhi_epi8(a, zero);
            s0 = _mm256_add_epi32(s0, _mm256_madd_epi16(_mm256_unpacklo_epi8(lo, zero), mmk));
            s1 = _mm256_add_epi32(s1, _mm256_madd_epi16(_mm256_unpackhi_epi8(lo, zero), mmk));
            s2 = _mm256_add_epi32(s2, _mm256_madd_epi16(_mm256_unpacklo_epi8(hi, zero), mmk));
            s3 = _mm256_add_epi32(s3, _mm256_madd_epi16(_mm256_unpackhi_epi8(hi, zero), mmk));
        }
        s0 = _mm256_srai_epi32(s0, kBits);
        s1 = _mm256_srai_epi32(s1, kBits);
        s2 = _mm256_srai_epi32(s2, kBits);
        s3 = _mm256_srai_epi32(s3, kBits);
        const __m256i packed =
            _mm256_packus_epi16(_mm256_packs_epi32(s0, s1), _mm256_packs_epi32(s2, s3));
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + x), packed);
    }
    VerticalBytes(rows, w, taps, out, x, nbytes);
}

// ---- row plumbing -------------------------------------------------------------------------------

struct Kernels {
    void (*expand24)(const uint8_t*, uint32_t*, int);
    void (*pack24)(const uint32_t*, uint8_t*, int);
    void (*horizontal)(const uint32_t*, const AxisFilter&, uint32_t*, int);
    void (*vertical)(const uint8_t* const*, const int16_t*, int, uint8_t*, int);
};

Kernels PickKernels(bool vector) {
    if (vector) return {Expand24Avx2, Pack24Avx2, HorizontalAvx2, VerticalAvx2};
    return {Expand24Portable, Pack24Portable, HorizontalPortable, VerticalPortable};
}

// Source pixels [x, x + n) of one row as 32-bit pixels.
void ReadRow(const Kernels& kern, const PixelView& v, int y, int x, int n, uint32_t* out) {
    const uint8_t* row = v.data + static_cast<ptrdiff_t>(y) * v.stride;
    if (v.bitsPerPixel == 24) {
        kern.expand24(row + static_cast<ptrdiff_t>(x) * 3, out, n);
    } else {
        std::memcpy(out, row + static_cast<ptrdiff_t>(x) * 4, static_cast<size_t>(n) * 4);
    }
}

void WriteRow(const Kernels& kern, const PixelView& v, int y, int x, int n, const uint32_t* in,
              uint8_t alpha) {
    uint8_t* row = v.data + static_cast<ptrdiff_t>(y) * v.stride;
    if (v.bitsPerPixel == 24) {
        kern.pack24(in, row + static_cast<ptrdiff_t>(x) * 3, n);
    } else {
        uint32_t* d = reinterpret_cast<uint32_t*>(row) + x;
        const uint32_t a = static_cast<uint32_t>(alpha) << 24;
        for (int i = 0; i < n; ++i) d[i] = (in[i] & 0x00FFFFFFu) | a;
    }
}

bool ValidView(const PixelView& v) {
    return v.data && v.width > 0 && v.height > 0 &&
           (v.bitsPerPixel == 24 || v.bitsPerPixel == 32) &&
           std::llabs(static_cast<long long>(v.stride)) >=
               static_cast<long long>(v.width) * (v.bitsPerPixel / 8);
}

// What every band of one job shares: the job, its kernels and filters, and the clipped area. The
// filters belong to the calling thread's cache, which does not change until the job is done.
struct Plan {
    const ResampleJob* job = nullptr;
    Kernels kern{};
    const AxisFilter* h = nullptr;
    const AxisFilter* v = nullptr;
    RECT clip{};
    int cx = 0, cy = 0, sw = 0, sh = 0;
    // Reductions filter columns first: the vertical pass then reads the source rows in place
    // and the costlier horizontal pass runs once per destination row instead of once per
    // source row. Enlargements keep the other order for the same reason the other way round.
    bool verticalFirst = false;
    int cols = 0;  // source columns the horizontal pass reads, from h->minStart
    int inLo = 0;  // [inLo, inHi): those inside the source rectangle; edges repeat outside
    int inHi = 0;
    // Bands of rows handed out to whichever thread is free.
    int bandRows = 0;
    int bands = 0;
    std::atomic<int> nextBand{0};
};

// Fills the edge columns of a row laid out for the horizontal pass.
void RepeatEdges(const Plan& p, std::vector<uint32_t>& row) {
    if (p.inLo > 0) std::fill(row.begin(), row.begin() + p.inLo, row[static_cast<size_t>(p.inLo)]);
    if (p.inHi < p.cols)
        std::fill(row.begin() + p.inHi, row.begin() + p.cols, row[static_cast<size_t>(p.inHi - 1)]);
}

void HorizontalPass(const Plan& p, const uint32_t* in, uint32_t* out) {
    if (p.h->taps == 1) {
        for (int i = 0; i < p.cx; ++i) out[i] = in[p.h->start[static_cast<size_t>(i)]];
    } else {
        p.kern.horizontal(in, *p.h, out, p.cx);
    }
}

// Destination rows [r0, r1) of the clipped area, counted from its top.
void ScaleRows(const Plan& p, int r0, int r1) {
    const ResampleJob& job = *p.job;
    const PixelView& src = job.src;
    const AxisFilter& h = *p.h;
    const AxisFilter& v = *p.v;
    const RECT& sr = job.srcRect;
    Scratch& scratch = ThreadScratch();
    std::vector<uint32_t>& outRow = scratch.outRow;
    outRow.resize(static_cast<size_t>(p.cx) + 8);
    std::vector<uint32_t>& srcRow = scratch.srcRow;
    srcRow.resize(static_cast<size_t>(p.cols) + 8);
    std::vector<const uint8_t*>& rows = scratch.rows;
    rows.resize(static_cast<size_t>(v.taps));
    const int bytesPerPixel = src.bitsPerPixel / 8;

    if (p.verticalFirst) {
        const int n = p.inHi - p.inLo;
        const ptrdiff_t firstByte =
            static_cast<ptrdiff_t>(sr.left + h.minStart + p.inLo) * bytesPerPixel;
        std::vector<uint8_t>& column = scratch.columnRow;
        column.resize(static_cast<size_t>(n) * static_cast<size_t>(bytesPerPixel));
        for (int r = r0; r < r1; ++r) {
            const int base = v.start[static_cast<size_t>(r)];
            for (int k = 0; k < v.taps; ++k)
                rows[static_cast<size_t>(k)] =
                    src.data +
                    static_cast<ptrdiff_t>(sr.top + std::clamp(base + k, 0, p.sh - 1)) *
                        src.stride +
                    firstByte;
            p.kern.vertical(rows.data(),
                            &v.weights[static_cast<size_t>(r) * static_cast<size_t>(v.taps)],
                            v.taps, column.data(), static_cast<int>(column.size()));
            if (bytesPerPixel == 3)
                p.kern.expand24(column.data(), srcRow.data() + p.inLo, n);
            else
                std::memcpy(srcRow.data() + p.inLo, column.data(), column.size());
            RepeatEdges(p, srcRow);
            HorizontalPass(p, srcRow.data(), outRow.data());
            WriteRow(p.kern, job.dst, p.clip.top + r, p.clip.left, p.cx, outRow.data(), job.alpha);
        }
        return;
    }

    // Each source row the band needs is filtered horizontally once, into a ring of rows.
    const int ringSize = v.taps + 1;
    const size_t ringStride = static_cast<size_t>(p.cx) + 8;
    std::vector<uint32_t>& ring = scratch.ring;
    ring.resize(static_cast<size_t>(ringSize) * ringStride);
    std::vector<int>& ringRow = scratch.ringRow;
    ringRow.assign(static_cast<size_t>(ringSize), -1);
    auto loadRow = [&](int c) -> const uint32_t* {
        const int slot = c % ringSize;
        uint32_t* out = &ring[static_cast<size_t>(slot) * ringStride];
        if (ringRow[static_cast<size_t>(slot)] == c) return out;
        ReadRow(p.kern, src, sr.top + c, sr.left + h.minStart + p.inLo, p.inHi - p.inLo,
                srcRow.data() + p.inLo);
        RepeatEdges(p, srcRow);
        HorizontalPass(p, srcRow.data(), out);
        ringRow[static_cast<size_t>(slot)] = c;
        return out;
    };
    for (int r = r0; r < r1; ++r) {
        const int base = v.start[static_cast<size_t>(r)];
        for (int k = 0; k < v.taps; ++k)
            rows[static_cast<size_t>(k)] =
                reinterpret_cast<const uint8_t*>(loadRow(std::clamp(base + k, 0, p.sh - 1)));
        const uint32_t* line;
        if (v.taps == 1) {
            line = reinterpret_cast<const uint32_t*>(rows[0]);
        } else {
            p.kern.vertical(rows.data(),
                            &v.weights[static_cast<size_t>(r) * static_cast<size_t>(v.taps)],
                            v.taps, reinterpret_cast<uint8_t*>(outRow.data()), p.cx * 4);
            line = outRow.data();
        }
        WriteRow(p.kern, job.dst, p.clip.top + r, p.clip.left, p.cx, line, job.alpha);
    }
}

// Takes bands until none is left; run by the caller and by the worker side by side.
void ScaleBands(void* context) {
    Plan& p = *static_cast<Plan*>(context);
    for (;;) {
        const int band = p.nextBand.fetch_add(1, std::memory_order_relaxed);
        if (band >= p.bands) return;
        ScaleRows(p, band * p.bandRows, std::min(p.cy, (band + 1) * p.bandRows));
    }
}

}  // namespace

long SetResampleSplitMinimum(long pixels) {
    return g_splitMinimum.exchange(pixels, std::memory_order_relaxed);
}

void SetResampleVectorPathAllowed(bool allowed) {
    g_vectorAllowed.store(allowed, std::memory_order_relaxed);
}
bool ResampleVectorPathAvailable() {
    return CpuHasAvx2();
}

bool Resample(const ResampleJob& job) {
    const PixelView& src = job.src;
    const PixelView& dst = job.dst;
    if (!ValidView(src) || !ValidView(dst)) return false;
    const RECT& sr = job.srcRect;
    const RECT& dr = job.dstRect;
    if (sr.left < 0 || sr.top < 0 || sr.right > src.width || sr.bottom > src.height ||
        sr.right <= sr.left || sr.bottom <= sr.top)
        return false;
    if (dr.right <= dr.left || dr.bottom <= dr.top) return true;  // nothing to draw
    const int sw = sr.right - sr.left, sh = sr.bottom - sr.top;
    const long long dwl = static_cast<long long>(dr.right) - dr.left;
    const long long dhl = static_cast<long long>(dr.bottom) - dr.top;
    if (dwl > (1 << 24) || dhl > (1 << 24)) return false;
    const int dw = static_cast<int>(dwl), dh = static_cast<int>(dhl);

    RECT clip{std::max({job.clip.left, dr.left, LONG{0}}),
              std::max({job.clip.top, dr.top, LONG{0}}),
              std::min({job.clip.right, dr.right, static_cast<LONG>(dst.width)}),
              std::min({job.clip.bottom, dr.bottom, static_cast<LONG>(dst.height)})};
    if (clip.right <= clip.left || clip.bottom <= clip.top) return true;
    const int fx = clip.left - dr.left, cx = clip.right - clip.left;
    const int fy = clip.top - dr.top, cy = clip.bottom - clip.top;

    const bool vector = UseVector();
    Plan plan;
    plan.job = &job;
    plan.kern = PickKernels(vector);
    Scratch& scratch = ThreadScratch();
    // The horizontal filter's starts are relative to the first source column it reads.
    const AxisFilter& h = scratch.horizontal.Get(
        AxisKey{sw, dw, fx, cx, vector ? 2 : 1, job.filter, job.widenForReduction, true});
    const AxisFilter& v =
        scratch.vertical.Get(AxisKey{sh, dh, fy, cy, 1, job.filter, job.widenForReduction, false});

    if (h.identity && v.identity) {
        // Same size: a straight copy (with the format change, if any).
        std::vector<uint32_t>& outRow = scratch.outRow;
        outRow.resize(static_cast<size_t>(cx) + 8);
        for (int r = 0; r < cy; ++r) {
            ReadRow(plan.kern, src, sr.top + fy + r, sr.left + fx, cx, outRow.data());
            WriteRow(plan.kern, dst, clip.top + r, clip.left, cx, outRow.data(), job.alpha);
        }
        return true;
    }

    plan.h = &h;
    plan.v = &v;
    plan.clip = clip;
    plan.cx = cx;
    plan.cy = cy;
    plan.sw = sw;
    plan.sh = sh;
    plan.cols = h.maxEnd - h.minStart;
    plan.inLo = std::clamp(0 - h.minStart, 0, plan.cols);
    plan.inHi = std::clamp(sw - h.minStart, 0, plan.cols);
    if (plan.inHi <= plan.inLo) return false;  // every kernel reaches into the source rectangle
    // (The choice depends on the whole job, never on the clip, so a clipped draw or a band of
    // rows gives the same pixels as the whole.)
    plan.verticalFirst = dh < sh && v.taps > 1 && plan.inHi > plan.inLo;

    // Large jobs are cut into bands of rows that this thread and the worker take in turn; the
    // bands give the same pixels as one pass, and a worker that is late to wake simply takes
    // fewer of them.
    const long minimum = g_splitMinimum.load(std::memory_order_relaxed);
    constexpr int kBands = 8, kMinBandRows = 16;
    if (minimum > 0 && static_cast<long long>(cx) * cy >= minimum && cy >= 2 * kMinBandRows) {
        plan.bandRows = std::max(kMinBandRows, (cy + kBands - 1) / kBands);
        plan.bands = (cy + plan.bandRows - 1) / plan.bandRows;
        RowWorker& worker = RowWorker::Instance();
        if (worker.Post(ScaleBands, &plan)) {
            ScaleBands(&plan);
            worker.Finish();
            return true;
        }
    }
    ScaleRows(plan, 0, cy);
    return true;
}

}  // namespace lumacap::ui
