#pragma once
// Byte streams with 64-bit positions: the abstract TStream, a growable memory
// stream and a file stream.

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

enum class TSeekOrigin { soBeginning, soCurrent, soEnd };
using enum TSeekOrigin;

class TStream {
public:
    virtual ~TStream() = default;
    TStream() = default;
    TStream(const TStream&) = delete;
    TStream& operator=(const TStream&) = delete;

    // Reads up to count bytes; answers how many were read (0 at the end).
    virtual std::size_t Read(void* buffer, std::size_t count) = 0;
    // Writes up to count bytes; answers how many were written.
    virtual std::size_t Write(const void* buffer, std::size_t count) = 0;
    virtual std::int64_t Seek(std::int64_t offset, TSeekOrigin origin) = 0;

    std::int64_t Position() { return Seek(0, soCurrent); }
    void SetPosition(std::int64_t pos) { Seek(pos, soBeginning); }
    virtual std::int64_t Size();
    virtual void SetSize(std::int64_t newSize);
    // Bytes left between the position and the end.
    std::int64_t Remaining() { return Size() - Position(); }

    // Reads exactly count bytes or raises EReadError.
    void ReadBuffer(void* buffer, std::size_t count);
    // Writes exactly count bytes or raises EWriteError.
    void WriteBuffer(const void* buffer, std::size_t count);
    // Copies count bytes from source (all of it from its start when count is 0).
    std::int64_t CopyFrom(TStream& source, std::int64_t count);

    std::uint8_t ReadU8();
    std::uint16_t ReadU16LE();
    std::uint32_t ReadU32LE();
    std::uint16_t ReadU16BE();
    std::uint32_t ReadU32BE();
    void WriteU8(std::uint8_t v);
    void WriteU16LE(std::uint16_t v);
    void WriteU32LE(std::uint32_t v);
    void WriteU16BE(std::uint16_t v);
    void WriteU32BE(std::uint32_t v);
};

class TMemoryStream : public TStream {
public:
    TMemoryStream() = default;
    explicit TMemoryStream(std::vector<std::uint8_t> data) : FData(std::move(data)) {}

    std::size_t Read(void* buffer, std::size_t count) override;
    std::size_t Write(const void* buffer, std::size_t count) override;
    std::int64_t Seek(std::int64_t offset, TSeekOrigin origin) override;
    std::int64_t Size() override { return static_cast<std::int64_t>(FData.size()); }
    void SetSize(std::int64_t newSize) override;

    void Clear();
    std::uint8_t* Memory() { return FData.data(); }
    const std::vector<std::uint8_t>& Data() const { return FData; }
    std::vector<std::uint8_t> TakeData();
    void LoadFromStream(TStream& stream);
    void LoadFromFile(const std::string& fileName);
    // Saves through atomic writing: the old file survives a failed save.
    void SaveToFile(const std::string& fileName) const;

private:
    std::vector<std::uint8_t> FData;
    std::size_t FPos = 0;
};

// Open modes of TFileStream.
constexpr unsigned fmOpenRead = 0x0000;
constexpr unsigned fmOpenWrite = 0x0001;
constexpr unsigned fmOpenReadWrite = 0x0002;
constexpr unsigned fmCreate = 0xFF00;

// A stream on an open file descriptor, named after its file for messages;
// the descriptor is closed with the stream.
class THandleStream : public TStream {
public:
    ~THandleStream() override;

    std::size_t Read(void* buffer, std::size_t count) override;
    std::size_t Write(const void* buffer, std::size_t count) override;
    std::int64_t Seek(std::int64_t offset, TSeekOrigin origin) override;
    void SetSize(std::int64_t newSize) override;
    const std::string& FileName() const { return FFileName; }

protected:
    explicit THandleStream(std::string fileName) : FFileName(std::move(fileName)) {}
    std::string FFileName;
    int FHandle = -1;
};

// A stream on a file. For saving a whole file use TAtomicFileStream or
// AtomicWriteFile, which never destroy the file they replace.
class TFileStream : public THandleStream {
public:
    TFileStream(const std::string& fileName, unsigned mode);
};
