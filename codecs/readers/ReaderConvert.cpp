// Row conversions of the readers: byte swapping, 16 to 8 bits, RGB, RGBA,
// CMYK and CIE L*a*b* to the bitmap's blue, green, red order, and the undoing
// of horizontal differencing.

#include "ImageReaders.h"

#include "Exceptions.h"
#include "Numeric.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace {

[[noreturn]] void CountError()
{
    throw Exception("Row conversion: the sample count does not fit the row buffers.");
}

void Check(bool fits)
{
    if (!fits)
        CountError();
}

// Samples of one plane or interleaved row, 8 or 16 bits, read as 8 bits.
struct Samples {
    const std::uint8_t* Data;
    int Bits;
    std::uint8_t operator[](std::size_t i) const
    {
        if (Bits == 8)
            return Data[i];
        std::uint16_t v;
        std::memcpy(&v, Data + 2 * i, 2);
        return static_cast<std::uint8_t>(v >> 8);
    }
    std::uint16_t Wide(std::size_t i) const
    {
        std::uint16_t v;
        std::memcpy(&v, Data + 2 * i, 2);
        return v;
    }
};

bool Supported(int bits) { return bits == 8 || bits == 16; }

// The pixels of a row of count samples, samplesPerPixel each, after checking
// that source holds them and dest takes destBytes bytes a pixel.
std::size_t CheckedPixels(std::size_t sourceSize, std::size_t destSize, int bits, std::size_t count,
                          std::size_t samplesPerPixel, std::size_t destBytes)
{
    const std::size_t pixels = count / samplesPerPixel;
    Check(count <= sourceSize / static_cast<std::size_t>(bits / 8));
    Check(pixels <= destSize / destBytes);
    return pixels;
}

std::uint8_t Clamp(std::int64_t v)
{
    return static_cast<std::uint8_t>(std::clamp<std::int64_t>(v, 0, 255));
}

std::uint8_t Cmyk8(int c, int k)
{
    return Clamp(255 - c - k + MulDiv(c, k, 255));
}

std::uint8_t Cmyk16(std::int64_t c, std::int64_t k)
{
    return Clamp(255 - ((c + k - MulDiv(static_cast<std::int32_t>(c), static_cast<std::int32_t>(k), 65535)) >> 8));
}

// CIE L*a*b* to sRGB. L* runs from 0 to 100; a* and b* are signed. The
// reference white is D65, as TIFF CIELab files of ImageMagick state it in
// their WhitePoint and as ImageMagick reads them. Per pixel:
//   fy = (L* + 16) / 116, fx = fy + a* / 500, fz = fy - b* / 200;
//   X = Xn f(fx), Y = f(fy), Z = Zn f(fz), with f(t) = t^3 above 6/29 and
//   3 (6/29)^2 (t - 4/29) below;
//   linear R, G, B from X, Y, Z by the sRGB matrix (D65), then companded
//   (12.92 v below 0.0031308, else 1.055 v^(1/2.4) - 0.055).
// The 8-bit samples are turned into fy, a*/500 and b*/200 by tables; the
// companding is a table of linear values in steps of 1/16384 (a step is at
// most a fifth of a level, near black).
class LabToRgb {
public:
    static const LabToRgb& Get()
    {
        static const LabToRgb tables;
        return tables;
    }

    struct F {
        float Y, X, Z; // fy, fx, fz
    };
    // fy, fx and fz of an 8-bit pixel: L from 0 to 255, a and b signed bytes.
    F Of8(std::uint8_t l, std::uint8_t a, std::uint8_t b) const
    {
        const float fy = FyOfL8[l];
        return {fy, fy + AOf8[a], fy - BOf8[b]};
    }
    // 16 bits: L from 0 to 65535, a and b signed, in 1/256 units of a* and b*.
    static F Of16(std::uint16_t l, std::uint16_t a, std::uint16_t b)
    {
        const float fy = static_cast<float>(l) * FyPerL16 + FyOfBlack;
        return {fy, fy + static_cast<float>(static_cast<std::int16_t>(a)) * APerStep16,
                fy - static_cast<float>(static_cast<std::int16_t>(b)) * BPerStep16};
    }
    // Writes pixels blue, green, red triples from the fy, fx, fz that
    // pixel(i) gives (the loop lives here so that all of it is inlined).
    template <class Pixel>
    void Row(std::size_t pixels, std::uint8_t* bgr, Pixel pixel) const
    {
        const float* m = Matrix;
        for (std::size_t i = 0; i < pixels; ++i, bgr += 3) {
            const F f = pixel(i);
            const float x = Linear(f.X), y = Linear(f.Y), z = Linear(f.Z);
            bgr[2] = Companded(m[0] * x + m[1] * y + m[2] * z);
            bgr[1] = Companded(m[3] * x + m[4] * y + m[5] * z);
            bgr[0] = Companded(m[6] * x + m[7] * y + m[8] * z);
        }
    }

private:
    static constexpr int CompandSteps = 16384;
    static constexpr float FyOfBlack = 16.0f / 116.0f;
    static constexpr float FyPerL16 = static_cast<float>(100.0 / 65535.0 / 116.0);
    static constexpr float APerStep16 = 1.0f / (256.0f * 500.0f);
    static constexpr float BPerStep16 = 1.0f / (256.0f * 200.0f);

    LabToRgb()
    {
        for (int v = 0; v < 256; ++v) {
            FyOfL8[v] = static_cast<float>((v * 100.0 / 255.0 + 16.0) / 116.0);
            const int s = static_cast<std::int8_t>(static_cast<std::uint8_t>(v));
            AOf8[v] = static_cast<float>(s / 500.0);
            BOf8[v] = static_cast<float>(s / 200.0);
        }
        // The sRGB matrix with the white's X and Z folded in.
        const double white[3] = {0.95047, 1.0, 1.08883};
        const double toRgb[9] = {3.2404542, -1.5371385, -0.4985314, -0.9692660, 1.8760108,
                                 0.0415560, 0.0556434,  -0.2040259, 1.0572252};
        for (int i = 0; i < 9; ++i)
            Matrix[i] = static_cast<float>(toRgb[i] * white[i % 3]);
        for (int i = 0; i <= CompandSteps; ++i) {
            const double v = static_cast<double>(i) / CompandSteps;
            const double c = v <= 0.0031308 ? 12.92 * v : 1.055 * std::pow(v, 1 / 2.4) - 0.055;
            Compand[i] = static_cast<std::uint8_t>(std::clamp(std::lround(255 * c), 0L, 255L));
        }
    }

    static float Linear(float t)
    {
        constexpr float edge = 6.0f / 29.0f;
        constexpr float slope = 3.0f * edge * edge;
        // Both branches and a weight of 0 or 1: no jump for the processor
        // to mispredict on noisy pictures.
        const float cube = t * t * t;
        const float line = slope * (t - 4.0f / 29.0f);
        const float above = static_cast<float>(t > edge);
        return line + above * (cube - line);
    }
    // v stays within +-25 whatever the samples (fy, fx and fz within -0.5 and
    // 1.7), so its index fits an int; clamped as an integer, without jumps.
    std::uint8_t Companded(float v) const
    {
        const int i = static_cast<int>(v * CompandSteps + 0.5f);
        return Compand[std::clamp(i, 0, CompandSteps)];
    }

    float FyOfL8[256];
    float AOf8[256];
    float BOf8[256];
    float Matrix[9];
    std::uint8_t Compand[CompandSteps + 1];
};

} // namespace

void SwapShort(std::span<std::uint8_t> buffer, std::size_t count)
{
    Check(count <= buffer.size() / 2);
    for (std::size_t i = 0; i < count; ++i)
        std::swap(buffer[2 * i], buffer[2 * i + 1]);
}

void SwapLong(std::span<std::uint8_t> buffer, std::size_t count)
{
    Check(count <= buffer.size() / 4);
    for (std::size_t i = 0; i < count; ++i) {
        std::swap(buffer[4 * i], buffer[4 * i + 3]);
        std::swap(buffer[4 * i + 1], buffer[4 * i + 2]);
    }
}

std::uint32_t SwapLong(std::uint32_t value)
{
    return (value >> 24) | ((value >> 8) & 0xFF00u) | ((value << 8) & 0xFF0000u) | (value << 24);
}

void Convert16To8(std::span<const std::uint8_t> source, std::span<std::uint8_t> dest, int, std::size_t count)
{
    Check(count <= source.size() / 2 && count <= dest.size());
    const Samples s{source.data(), 16};
    for (std::size_t i = 0; i < count; ++i)
        dest[i] = s[i];
}

void ConvertRGB(std::span<const std::uint8_t> source, std::span<std::uint8_t> dest, int bitsPerSample,
                std::size_t count)
{
    if (!Supported(bitsPerSample))
        return;
    const std::size_t pixels = CheckedPixels(source.size(), dest.size(), bitsPerSample, count, 3, 3);
    std::uint8_t* d = dest.data();
    if (bitsPerSample == 8) {
        const std::uint8_t* s = source.data();
        for (std::size_t i = 0; i < pixels; ++i, s += 3, d += 3) {
            d[0] = s[2];
            d[1] = s[1];
            d[2] = s[0];
        }
        return;
    }
    const Samples s{source.data(), 16};
    for (std::size_t i = 0; i < pixels; ++i, d += 3) {
        d[0] = s[3 * i + 2];
        d[1] = s[3 * i + 1];
        d[2] = s[3 * i];
    }
}

void ConvertRGBA(std::span<const std::uint8_t> source, std::span<std::uint8_t> dest, int bitsPerSample,
                 std::size_t count)
{
    if (!Supported(bitsPerSample))
        return;
    const std::size_t pixels = CheckedPixels(source.size(), dest.size(), bitsPerSample, count, 4, 4);
    const Samples s{source.data(), bitsPerSample};
    std::uint8_t* d = dest.data();
    for (std::size_t i = 0; i < pixels; ++i, d += 4) {
        d[0] = s[4 * i + 2];
        d[1] = s[4 * i + 1];
        d[2] = s[4 * i];
        d[3] = s[4 * i + 3];
    }
}

void ConvertCMYK(std::span<const std::uint8_t> source, std::span<std::uint8_t> dest, int bitsPerSample,
                 std::size_t count)
{
    if (!Supported(bitsPerSample))
        return;
    const std::size_t pixels = CheckedPixels(source.size(), dest.size(), bitsPerSample, count, 4, 3);
    const Samples s{source.data(), bitsPerSample};
    std::uint8_t* d = dest.data();
    for (std::size_t i = 0; i < pixels; ++i, d += 3) {
        if (bitsPerSample == 8) {
            const int k = s[4 * i + 3];
            d[2] = Cmyk8(s[4 * i], k);
            d[1] = Cmyk8(s[4 * i + 1], k);
            d[0] = Cmyk8(s[4 * i + 2], k);
        } else {
            const std::int64_t k = s.Wide(4 * i + 3);
            d[2] = Cmyk16(s.Wide(4 * i), k);
            d[1] = Cmyk16(s.Wide(4 * i + 1), k);
            d[0] = Cmyk16(s.Wide(4 * i + 2), k);
        }
    }
}

void ConvertLab(std::span<const std::uint8_t> source, std::span<std::uint8_t> dest, int bitsPerSample,
                std::size_t count)
{
    if (!Supported(bitsPerSample))
        return;
    const std::size_t pixels = CheckedPixels(source.size(), dest.size(), bitsPerSample, count, 3, 3);
    const LabToRgb& lab = LabToRgb::Get();
    if (bitsPerSample == 8) {
        const std::uint8_t* s = source.data();
        lab.Row(pixels, dest.data(), [&](std::size_t i) { return lab.Of8(s[3 * i], s[3 * i + 1], s[3 * i + 2]); });
        return;
    }
    const Samples s{source.data(), 16};
    lab.Row(pixels, dest.data(),
            [&](std::size_t i) { return LabToRgb::Of16(s.Wide(3 * i), s.Wide(3 * i + 1), s.Wide(3 * i + 2)); });
}

void ConvertRGBPlanar(std::span<const std::uint8_t> red, std::span<const std::uint8_t> green,
                      std::span<const std::uint8_t> blue, std::span<std::uint8_t> dest, int bitsPerSample,
                      std::size_t count)
{
    if (!Supported(bitsPerSample))
        return;
    const std::size_t plane = std::min({red.size(), green.size(), blue.size()});
    const std::size_t pixels = CheckedPixels(plane * 3, dest.size(), bitsPerSample, count, 3, 3);
    const Samples r{red.data(), bitsPerSample}, g{green.data(), bitsPerSample}, b{blue.data(), bitsPerSample};
    for (std::size_t i = 0; i < pixels; ++i) {
        dest[3 * i] = b[i];
        dest[3 * i + 1] = g[i];
        dest[3 * i + 2] = r[i];
    }
}

void ConvertCMYKPlanar(std::span<const std::uint8_t> cyan, std::span<const std::uint8_t> magenta,
                       std::span<const std::uint8_t> yellow, std::span<const std::uint8_t> black,
                       std::span<std::uint8_t> dest, int bitsPerSample, std::size_t count)
{
    if (!Supported(bitsPerSample))
        return;
    const std::size_t plane = std::min({cyan.size(), magenta.size(), yellow.size(), black.size()});
    const std::size_t pixels = CheckedPixels(plane * 4, dest.size(), bitsPerSample, count, 4, 3);
    const Samples c{cyan.data(), bitsPerSample}, m{magenta.data(), bitsPerSample},
        y{yellow.data(), bitsPerSample}, k{black.data(), bitsPerSample};
    for (std::size_t i = 0; i < pixels; ++i) {
        std::uint8_t* d = dest.data() + 3 * i;
        if (bitsPerSample == 8) {
            d[2] = Cmyk8(c[i], k[i]);
            d[1] = Cmyk8(m[i], k[i]);
            d[0] = Cmyk8(y[i], k[i]);
        } else {
            d[2] = Cmyk16(c.Wide(i), k.Wide(i));
            d[1] = Cmyk16(m.Wide(i), k.Wide(i));
            d[0] = Cmyk16(y.Wide(i), k.Wide(i));
        }
    }
}

void ConvertLabPlanar(std::span<const std::uint8_t> l, std::span<const std::uint8_t> a,
                      std::span<const std::uint8_t> b, std::span<std::uint8_t> dest, int bitsPerSample,
                      std::size_t count)
{
    if (!Supported(bitsPerSample))
        return;
    const std::size_t plane = std::min({l.size(), a.size(), b.size()});
    const std::size_t pixels = CheckedPixels(plane * 3, dest.size(), bitsPerSample, count, 3, 3);
    const LabToRgb& lab = LabToRgb::Get();
    if (bitsPerSample == 8) {
        lab.Row(pixels, dest.data(), [&](std::size_t i) { return lab.Of8(l[i], a[i], b[i]); });
        return;
    }
    const Samples sl{l.data(), 16}, sa{a.data(), 16}, sb{b.data(), 16};
    lab.Row(pixels, dest.data(), [&](std::size_t i) { return LabToRgb::Of16(sl.Wide(i), sa.Wide(i), sb.Wide(i)); });
}

void UndoPredictor(std::span<std::uint8_t> row, std::size_t count, std::size_t bytesPerPixel)
{
    if (count == 0 || bytesPerPixel == 0)
        return;
    Check(count < row.size() / bytesPerPixel);
    std::uint8_t* p = row.data();
    const std::size_t n = count * bytesPerPixel;
    switch (bytesPerPixel) {
    case 1:
        for (std::size_t i = 0; i < n; ++i)
            p[i + 1] = static_cast<std::uint8_t>(p[i + 1] + p[i]);
        break;
    case 3:
        for (std::size_t i = 0; i < n; i += 3) {
            p[i + 3] = static_cast<std::uint8_t>(p[i + 3] + p[i]);
            p[i + 4] = static_cast<std::uint8_t>(p[i + 4] + p[i + 1]);
            p[i + 5] = static_cast<std::uint8_t>(p[i + 5] + p[i + 2]);
        }
        break;
    default:
        for (std::size_t i = 0; i < n; ++i)
            p[i + bytesPerPixel] = static_cast<std::uint8_t>(p[i + bytesPerPixel] + p[i]);
        break;
    }
}

void UndoPredictor16(std::span<std::uint8_t> row, std::size_t count, std::size_t samplesPerPixel)
{
    if (count == 0 || samplesPerPixel == 0)
        return;
    Check(count < row.size() / (2 * samplesPerPixel));
    std::uint8_t* p = row.data();
    const std::size_t n = count * samplesPerPixel;
    for (std::size_t i = 0; i < n; ++i) {
        std::uint16_t prev, cur;
        std::memcpy(&prev, p + 2 * i, 2);
        std::memcpy(&cur, p + 2 * (i + samplesPerPixel), 2);
        cur = static_cast<std::uint16_t>(cur + prev);
        std::memcpy(p + 2 * (i + samplesPerPixel), &cur, 2);
    }
}
