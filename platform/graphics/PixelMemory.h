#pragma once
// Memory for pixels. Large blocks (2 MB and more) are mapped 2 MB-aligned and
// advised for transparent huge pages: a 24-megapixel picture then costs a few
// dozen page faults instead of tens of thousands. The pages of a large new
// mapping are made present at once, spread over the shared thread pool. A few freed large blocks
// are kept mapped and handed out again to the next request of the same
// mapped size, so routines that build a new picture of the same size as the
// old one write into memory that is already there.

#include <cstddef>
#include <cstdint>

namespace pixelmemory {

// Blocks of this size or more are mapped on their own.
constexpr std::size_t LargeBlock = std::size_t{2} << 20;

// A block of at least size bytes, its contents undefined; nullptr for size 0.
// Raises std::bad_alloc when the memory can not be had.
void* Allocate(std::size_t size);
// Gives back a block of Allocate with the size it was asked for.
void Free(void* block, std::size_t size) noexcept;
// The same, but a large block goes back to the system at once instead of
// being kept for reuse: for working memory that no picture will want again.
void Discard(void* block, std::size_t size) noexcept;
// The bytes a block asked with size really has: large blocks are whole
// pieces of LargeBlock bytes.
std::size_t BlockBytes(std::size_t size) noexcept;
// Unmaps the kept blocks. Called when the work that used large pictures is
// over (the last document closed, a batch done).
void Trim() noexcept;
// The bytes of the blocks kept mapped for reuse.
std::size_t CachedBytes() noexcept;
// The memory that pictures kept together may take: all the frames of one
// animation, the undo snapshots of all documents. A quarter of the physical
// memory, at most 4 GB (4 GB when the system does not tell its memory) and
// at most what a size_t holds.
std::size_t Allowance() noexcept;
// The same for a machine of pages physical pages of pageSize bytes (either
// 0 or less: the system does not tell) whose sizes go up to largest (the
// largest size_t): never more than largest, and worked out in 64 bits, so
// that a 32-bit system gets its quarter too.
std::uint64_t AllowanceFor(std::int64_t pages, std::int64_t pageSize, std::uint64_t largest) noexcept;

} // namespace pixelmemory

// Copies size bytes; large copies are split over the shared thread pool.
void CopyPixels(std::uint8_t* dest, const std::uint8_t* source, std::size_t size);

// An owned byte buffer in pixel memory. Copies copy the bytes; assigning a
// buffer of the same size copies into the memory this one already has.
class TPixelBuffer {
public:
    TPixelBuffer() = default;
    // size bytes, all zero.
    explicit TPixelBuffer(std::size_t size);
    ~TPixelBuffer() { pixelmemory::Free(FData, FAllocated); }
    TPixelBuffer(const TPixelBuffer& other);
    TPixelBuffer& operator=(const TPixelBuffer& other);
    TPixelBuffer(TPixelBuffer&& other) noexcept;
    TPixelBuffer& operator=(TPixelBuffer&& other) noexcept;

    // size bytes whose contents are left undefined; keeps the memory when
    // the size does not change.
    static TPixelBuffer Uninitialised(std::size_t size);
    // The same in memory that has room for at least room bytes from data()
    // on: for a decoder that unpacks data larger than what it keeps into the
    // memory that keeps it. A copy of the buffer holds its first size bytes.
    static TPixelBuffer Uninitialised(std::size_t size, std::size_t room);
    // Copies size bytes from data, reusing the memory when the size is the same.
    void AssignBytes(const std::uint8_t* data, std::size_t size);

    std::uint8_t* data() { return FData; }
    const std::uint8_t* data() const { return FData; }
    std::size_t size() const { return FSize; }
    bool empty() const { return FSize == 0; }
    std::uint8_t& operator[](std::size_t i) { return FData[i]; }
    std::uint8_t operator[](std::size_t i) const { return FData[i]; }
    void clear() noexcept;
    void swap(TPixelBuffer& other) noexcept;

private:
    std::uint8_t* FData = nullptr;
    std::size_t FSize = 0;
    std::size_t FAllocated = 0; // the size the memory was asked with
};
