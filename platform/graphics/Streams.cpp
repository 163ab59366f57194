#include "Streams.h"

#include "AtomicFile.h"
#include "Exceptions.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <functional>
#include <stdexcept>
#include <fcntl.h>
#include <limits>
#include <sys/stat.h>
#include <unistd.h>

std::int64_t TStream::Size()
{
    std::int64_t pos = Seek(0, soCurrent);
    std::int64_t end = Seek(0, soEnd);
    Seek(pos, soBeginning);
    return end;
}

void TStream::SetSize(std::int64_t)
{
    throw EStreamError("Stream size cannot be changed");
}

void TStream::ReadBuffer(void* buffer, std::size_t count)
{
    auto* p = static_cast<std::uint8_t*>(buffer);
    std::size_t done = 0;
    while (done < count) {
        std::size_t n = Read(p + done, count - done);
        if (n == 0)
            throw EReadError("Erreur de lecture dans le flux");
        done += n;
    }
}

void TStream::WriteBuffer(const void* buffer, std::size_t count)
{
    auto* p = static_cast<const std::uint8_t*>(buffer);
    std::size_t done = 0;
    while (done < count) {
        std::size_t n = Write(p + done, count - done);
        if (n == 0)
            throw EWriteError("Erreur d'écriture dans le flux");
        done += n;
    }
}

std::int64_t TStream::CopyFrom(TStream& source, std::int64_t count)
{
    if (count <= 0) {
        source.SetPosition(0);
        count = source.Size();
    }
    std::vector<std::uint8_t> buffer(static_cast<std::size_t>(std::min<std::int64_t>(count, 1 << 16)));
    std::int64_t left = count;
    while (left > 0) {
        auto n = static_cast<std::size_t>(std::min<std::int64_t>(left, static_cast<std::int64_t>(buffer.size())));
        source.ReadBuffer(buffer.data(), n);
        WriteBuffer(buffer.data(), n);
        left -= static_cast<std::int64_t>(n);
    }
    return count;
}

std::uint8_t TStream::ReadU8()
{
    std::uint8_t b;
    ReadBuffer(&b, 1);
    return b;
}

std::uint16_t TStream::ReadU16LE()
{
    std::uint8_t b[2];
    ReadBuffer(b, 2);
    return static_cast<std::uint16_t>(b[0] | (b[1] << 8));
}

std::uint32_t TStream::ReadU32LE()
{
    std::uint8_t b[4];
    ReadBuffer(b, 4);
    return static_cast<std::uint32_t>(b[0]) | (static_cast<std::uint32_t>(b[1]) << 8) |
           (static_cast<std::uint32_t>(b[2]) << 16) | (static_cast<std::uint32_t>(b[3]) << 24);
}

std::uint16_t TStream::ReadU16BE()
{
    std::uint8_t b[2];
    ReadBuffer(b, 2);
    return static_cast<std::uint16_t>((b[0] << 8) | b[1]);
}

std::uint32_t TStream::ReadU32BE()
{
    std::uint8_t b[4];
    ReadBuffer(b, 4);
    return (static_cast<std::uint32_t>(b[0]) << 24) | (static_cast<std::uint32_t>(b[1]) << 16) |
           (static_cast<std::uint32_t>(b[2]) << 8) | static_cast<std::uint32_t>(b[3]);
}

void TStream::WriteU8(std::uint8_t v) { WriteBuffer(&v, 1); }

void TStream::WriteU16LE(std::uint16_t v)
{
    std::uint8_t b[2] = {static_cast<std::uint8_t>(v), static_cast<std::uint8_t>(v >> 8)};
    WriteBuffer(b, 2);
}

void TStream::WriteU32LE(std::uint32_t v)
{
    std::uint8_t b[4] = {static_cast<std::uint8_t>(v), static_cast<std::uint8_t>(v >> 8),
                         static_cast<std::uint8_t>(v >> 16), static_cast<std::uint8_t>(v >> 24)};
    WriteBuffer(b, 4);
}

void TStream::WriteU16BE(std::uint16_t v)
{
    std::uint8_t b[2] = {static_cast<std::uint8_t>(v >> 8), static_cast<std::uint8_t>(v)};
    WriteBuffer(b, 2);
}

void TStream::WriteU32BE(std::uint32_t v)
{
    std::uint8_t b[4] = {static_cast<std::uint8_t>(v >> 24), static_cast<std::uint8_t>(v >> 16),
                         static_cast<std::uint8_t>(v >> 8), static_cast<std::uint8_t>(v)};
    WriteBuffer(b, 4);
}

// --- TMemoryStream

std::size_t TMemoryStream::Read(void* buffer, std::size_t count)
{
    if (FPos >= FData.size() || count == 0)
        return 0;
    std::size_t n = std::min(count, FData.size() - FPos);
    std::memcpy(buffer, FData.data() + FPos, n);
    FPos += n;
    return n;
}

std::size_t TMemoryStream::Write(const void* buffer, std::size_t count)
{
    if (count == 0)
        return 0;
    // The bytes may come from this stream's own memory, which growing moves.
    const auto* src = static_cast<const std::uint8_t*>(buffer);
    std::less<const std::uint8_t*> before;
    bool inside = !FData.empty() && !before(src, FData.data()) && before(src, FData.data() + FData.size());
    std::size_t offset = inside ? static_cast<std::size_t>(src - FData.data()) : 0;
    if (FPos > FData.max_size() || count > FData.max_size() - FPos)
        OutOfMemoryError();
    try {
        if (FPos + count > FData.size())
            FData.resize(FPos + count);
    } catch (const std::bad_alloc&) {
        OutOfMemoryError();
    } catch (const std::length_error&) {
        OutOfMemoryError();
    }
    if (inside)
        src = FData.data() + offset;
    std::memmove(FData.data() + FPos, src, count);
    FPos += count;
    return count;
}

std::int64_t TMemoryStream::Seek(std::int64_t offset, TSeekOrigin origin)
{
    std::int64_t base = origin == soBeginning ? 0
                        : origin == soCurrent ? static_cast<std::int64_t>(FPos)
                                              : static_cast<std::int64_t>(FData.size());
    std::int64_t target;
    if (__builtin_add_overflow(base, offset, &target) || target < 0)
        throw EStreamError("Position de flux incorrecte");
    FPos = static_cast<std::size_t>(target);
    return target;
}

void TMemoryStream::SetSize(std::int64_t newSize)
{
    if (newSize < 0)
        throw EStreamError("Taille de flux incorrecte");
    if (static_cast<std::uint64_t>(newSize) > FData.max_size())
        OutOfMemoryError();
    try {
        FData.resize(static_cast<std::size_t>(newSize));
    } catch (const std::bad_alloc&) {
        OutOfMemoryError();
    } catch (const std::length_error&) {
        OutOfMemoryError();
    }
    if (FPos > FData.size())
        FPos = FData.size();
}

void TMemoryStream::Clear()
{
    FData.clear();
    FPos = 0;
}

std::vector<std::uint8_t> TMemoryStream::TakeData()
{
    FPos = 0;
    return std::move(FData);
}

void TMemoryStream::LoadFromStream(TStream& stream)
{
    stream.SetPosition(0);
    std::int64_t size = stream.Size();
    Clear();
    SetSize(size);
    if (size > 0)
        stream.ReadBuffer(FData.data(), FData.size());
    FPos = 0;
}

void TMemoryStream::LoadFromFile(const std::string& fileName)
{
    TFileStream file(fileName, fmOpenRead);
    LoadFromStream(file);
}

void TMemoryStream::SaveToFile(const std::string& fileName) const
{
    AtomicWriteFile(fileName, [this](TStream& out) { out.WriteBuffer(FData.data(), FData.size()); });
}

// --- TFileStream

TFileStream::TFileStream(const std::string& fileName, unsigned mode) : THandleStream(fileName)
{
    int flags;
    if (mode == fmCreate)
        flags = O_RDWR | O_CREAT | O_TRUNC;
    else if ((mode & 3) == fmOpenWrite)
        flags = O_WRONLY;
    else if ((mode & 3) == fmOpenReadWrite)
        flags = O_RDWR;
    else
        flags = O_RDONLY;
    FHandle = ::open(fileName.c_str(), flags | O_CLOEXEC, 0666);
    if (FHandle < 0) {
        std::string reason = std::strerror(errno);
        if (mode == fmCreate)
            throw EFCreateError("Impossible de créer le fichier " + fileName + " (" + reason + ")");
        throw EFOpenError("Impossible d'ouvrir le fichier " + fileName + " (" + reason + ")");
    }
    struct stat st{};
    if (::fstat(FHandle, &st) == 0 && S_ISDIR(st.st_mode)) {
        ::close(FHandle);
        FHandle = -1;
        throw EFOpenError("Impossible d'ouvrir le fichier " + fileName + " (c'est un dossier)");
    }
}

THandleStream::~THandleStream()
{
    if (FHandle >= 0)
        ::close(FHandle);
}

std::size_t THandleStream::Read(void* buffer, std::size_t count)
{
    for (;;) {
        ssize_t n = ::read(FHandle, buffer, count);
        if (n >= 0)
            return static_cast<std::size_t>(n);
        if (errno != EINTR)
            throw EReadError("Erreur de lecture du fichier " + FFileName + " (" + std::strerror(errno) + ")");
    }
}

std::size_t THandleStream::Write(const void* buffer, std::size_t count)
{
    for (;;) {
        ssize_t n = ::write(FHandle, buffer, count);
        if (n >= 0)
            return static_cast<std::size_t>(n);
        if (errno != EINTR)
            throw EWriteError("Erreur d'écriture du fichier " + FFileName + " (" + std::strerror(errno) + ")");
    }
}

std::int64_t THandleStream::Seek(std::int64_t offset, TSeekOrigin origin)
{
    int whence = origin == soBeginning ? SEEK_SET : origin == soCurrent ? SEEK_CUR : SEEK_END;
    off_t r = ::lseek(FHandle, static_cast<off_t>(offset), whence);
    if (r < 0)
        throw EStreamError("Position de flux incorrecte dans " + FFileName);
    return static_cast<std::int64_t>(r);
}

void THandleStream::SetSize(std::int64_t newSize)
{
    if (::ftruncate(FHandle, static_cast<off_t>(newSize)) != 0)
        throw EWriteError("Impossible de changer la taille du fichier " + FFileName);
}
