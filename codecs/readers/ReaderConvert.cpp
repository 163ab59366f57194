// Row conversions of the readers: byte swapping, 16 to 8 bits, RGB, RGBA,
// CMYK and CIE L*a*b* to the bitmap's blue, green, red order, and the undoing
// of horizontal differencing.

#include "ImageReaders.h"

#include "Exceptions.h"
#include "Numeric.h"

#include <algorithm>
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

// One CIE L*a*b* pixel (8-bit L, signed a and b) to blue, green, red.
void LabPixel(std::uint8_t l8, std::uint8_t a8, std::uint8_t b8, std::uint8_t* bgr)
{
    const Extended a = static_cast<std::int8_t>(a8);
    const Extended b = static_cast<std::int8_t>(b8);
    const double lstar = static_cast<double>(static_cast<Extended>(l8) / 2.55L);
    const double fy = static_cast<double>((static_cast<Extended>(lstar) + 16) / 116);
    double x, y, z;
    if (lstar < 7.9996) {
        y = static_cast<double>(static_cast<Extended>(lstar) / 903.3L);
        x = static_cast<double>(y + a / 3893.5L);
        z = static_cast<double>(y - b / 1557.4L);
    } else {
        const Extended fx = fy + a / 500;
        const Extended fz = fy - b / 200;
        x = static_cast<double>(fx * fx * fx);
        y = static_cast<double>(static_cast<Extended>(fy) * fy * fy);
        z = static_cast<double>(fz * fz * fz);
    }
    const Extended X = x, Y = y, Z = z;
    bgr[2] = Clamp(Round(255 * (2.998L * X - 1.458L * Y - 0.541L * Z)));
    bgr[1] = Clamp(Round(255 * (-0.952L * X + 1.893L * Y + 0.059L * Z)));
    bgr[0] = Clamp(Round(255 * (0.099L * X - 0.198L * Y + 1.099L * Z)));
}

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

void ConvertLab(std::span<const std::uint8_t> source, std::span<std::uint8_t> dest, int, std::size_t count)
{
    const std::size_t pixels = CheckedPixels(source.size(), dest.size(), 8, count, 3, 3);
    const std::uint8_t* s = source.data();
    for (std::size_t i = 0; i < pixels; ++i, s += 3)
        LabPixel(s[0], s[1], s[2], dest.data() + 3 * i);
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
                      std::span<const std::uint8_t> b, std::span<std::uint8_t> dest, int, std::size_t count)
{
    const std::size_t plane = std::min({l.size(), a.size(), b.size()});
    const std::size_t pixels = CheckedPixels(plane * 3, dest.size(), 8, count, 3, 3);
    for (std::size_t i = 0; i < pixels; ++i)
        LabPixel(l[i], a[i], b[i], dest.data() + 3 * i);
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
