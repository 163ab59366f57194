#include "PngUnfilter.h"

#include <atomic>
#include <cstring>

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#define PNG_VECTOR_UNFILTER 1
#endif

namespace pngimpl {

namespace {

std::atomic<bool> gVectorUnfilter{true};

#ifdef PNG_VECTOR_UNFILTER
// B bytes of a pixel as 16-bit lanes, and back. Exactly B bytes are read
// and written: the bytes after a pixel are the next pixel's, still filtered.
template <std::size_t B>
[[gnu::target("sse4.1"), gnu::always_inline]] inline __m128i LoadPixel(const std::uint8_t* p)
{
    // Built in a register: a 3-byte copy through memory would stall the
    // 4-byte read that follows it.
    std::uint32_t v;
    if constexpr (B == 4)
        std::memcpy(&v, p, 4);
    else
        v = p[0] | (static_cast<std::uint32_t>(p[1]) << 8) | (static_cast<std::uint32_t>(p[2]) << 16);
    return _mm_cvtepu8_epi16(_mm_cvtsi32_si128(static_cast<int>(v)));
}

template <std::size_t B>
[[gnu::target("sse4.1"), gnu::always_inline]] inline void StorePixel(std::uint8_t* p, __m128i v)
{
    const auto bytes = static_cast<std::uint32_t>(_mm_cvtsi128_si32(_mm_packus_epi16(v, v)));
    if constexpr (B == 4) {
        std::memcpy(p, &bytes, 4);
    } else {
        p[0] = static_cast<std::uint8_t>(bytes);
        p[1] = static_cast<std::uint8_t>(bytes >> 8);
        p[2] = static_cast<std::uint8_t>(bytes >> 16);
    }
}

// The filtered bytes plus the prediction, modulo 256 (kept in 16-bit lanes).
[[gnu::target("sse4.1"), gnu::always_inline]] inline __m128i AddModulo(__m128i filtered, __m128i prediction)
{
    return _mm_and_si128(_mm_add_epi16(filtered, prediction), _mm_set1_epi16(0xFF));
}

template <std::size_t B>
[[gnu::target("sse4.1")]] void PaethSse41(std::uint8_t* row, const std::uint8_t* above, std::size_t n)
{
    __m128i a = _mm_setzero_si128(), c = _mm_setzero_si128();
    for (std::size_t i = 0; i + B <= n; i += B) {
        const __m128i b = LoadPixel<B>(above + i);
        const __m128i bc = _mm_sub_epi16(b, c), ac = _mm_sub_epi16(a, c);
        const __m128i pa = _mm_abs_epi16(bc), pb = _mm_abs_epi16(ac), pc = _mm_abs_epi16(_mm_add_epi16(bc, ac));
        // a when pa is the smallest, else b when pb is no larger than pc, else c.
        const __m128i least = _mm_min_epi16(pa, _mm_min_epi16(pb, pc));
        const __m128i bOrC = _mm_blendv_epi8(c, b, _mm_cmpeq_epi16(pb, least));
        const __m128i prediction = _mm_blendv_epi8(bOrC, a, _mm_cmpeq_epi16(pa, least));
        a = AddModulo(LoadPixel<B>(row + i), prediction);
        StorePixel<B>(row + i, a);
        c = b;
    }
}

bool HaveSse41()
{
    static const bool have = __builtin_cpu_supports("sse4.1");
    return have;
}
#endif

} // namespace

void SetVectorUnfilter(bool enabled) { gVectorUnfilter.store(enabled); }

bool UnfilterRowVector(int type, std::uint8_t* row, const std::uint8_t* above, std::size_t n, std::size_t stride)
{
#ifdef PNG_VECTOR_UNFILTER
    if (type != 4 || (stride != 3 && stride != 4) || !HaveSse41() || !gVectorUnfilter.load(std::memory_order_relaxed))
        return false;
    stride == 3 ? PaethSse41<3>(row, above, n) : PaethSse41<4>(row, above, n);
    return true;
#else
    (void)type, (void)row, (void)above, (void)n, (void)stride;
    return false;
#endif
}

} // namespace pngimpl
