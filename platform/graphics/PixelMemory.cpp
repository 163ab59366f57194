#include "PixelMemory.h"

#include "Parallel.h"

#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>

#include <cstdlib>
#include <cstring>
#include <mutex>
#include <new>
#include <utility>

namespace pixelmemory {

namespace {

constexpr std::size_t Alignment = LargeBlock;
// Freed large blocks kept for reuse: at most this many, and this many bytes.
constexpr std::size_t KeptBlocks = 32;
constexpr std::size_t KeptBytes = std::size_t{1} << 30;

std::size_t MappedSize(std::size_t size) { return (size + Alignment - 1) / Alignment * Alignment; }

void* MapAligned(std::size_t mapped)
{
    // Map one alignment more than needed and cut off what lies before the
    // first aligned address and after the block.
    const std::size_t span = mapped + Alignment;
    void* raw = mmap(nullptr, span, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (raw == MAP_FAILED)
        throw std::bad_alloc();
    const auto start = reinterpret_cast<std::uintptr_t>(raw);
    const std::uintptr_t aligned = (start + Alignment - 1) / Alignment * Alignment;
    const std::size_t head = aligned - start;
    const std::size_t tail = span - head - mapped;
    if (head)
        munmap(raw, head);
    if (tail)
        munmap(reinterpret_cast<void*>(aligned + mapped), tail);
    void* block = reinterpret_cast<void*>(aligned);
    madvise(block, mapped, MADV_HUGEPAGE);
    return block;
}

// Makes the pages of a freshly mapped block present, a share on each thread
// of the pool. The first touch of a page costs far more than the writes of
// the routine that fills it (the system clears the page, and under a
// hypervisor may have to back it first); spread over the cores, that cost
// is paid several times faster than when the routine meets each page on
// its own thread. Small blocks and a system that cannot do it are left to
// their page faults.
void Populate(void* block, std::size_t mapped)
{
    constexpr std::size_t fewest = 8;
    const std::size_t pieces = mapped / Alignment;
    if (pieces < fewest)
        return;
    auto* bytes = static_cast<std::uint8_t*>(block);
    try {
        parallel::For(pieces, 1, [bytes](std::size_t first, std::size_t end) {
            madvise(bytes + first * Alignment, (end - first) * Alignment, MADV_POPULATE_WRITE);
        });
    } catch (...) {
        // No thread to share the work: the pages come as they are touched.
    }
}

struct Kept {
    void* Block = nullptr;
    std::size_t Mapped = 0;
};

struct Cache {
    std::mutex Lock;
    Kept Blocks[KeptBlocks];
    std::size_t Count = 0; // Blocks[0] is the oldest
    std::size_t Bytes = 0;

    void* Take(std::size_t mapped)
    {
        std::lock_guard<std::mutex> guard(Lock);
        for (std::size_t i = Count; i-- > 0;)
            if (Blocks[i].Mapped == mapped) {
                void* block = Blocks[i].Block;
                for (std::size_t j = i; j + 1 < Count; ++j)
                    Blocks[j] = Blocks[j + 1];
                --Count;
                Bytes -= mapped;
                return block;
            }
        return nullptr;
    }

    // Keeps the block; answers the blocks pushed out, to be unmapped
    // outside the lock.
    std::size_t Put(void* block, std::size_t mapped, Kept (&evicted)[KeptBlocks + 1])
    {
        std::size_t out = 0;
        if (mapped > KeptBytes) {
            evicted[out++] = Kept{block, mapped};
            return out;
        }
        std::lock_guard<std::mutex> guard(Lock);
        while (Count > 0 && (Count == KeptBlocks || Bytes + mapped > KeptBytes)) {
            evicted[out++] = Blocks[0];
            Bytes -= Blocks[0].Mapped;
            for (std::size_t j = 0; j + 1 < Count; ++j)
                Blocks[j] = Blocks[j + 1];
            --Count;
        }
        Blocks[Count++] = Kept{block, mapped};
        Bytes += mapped;
        return out;
    }
};

Cache& TheCache()
{
    // Never destroyed: blocks may be freed by static destructors of other units.
    static Cache* cache = new Cache;
    return *cache;
}

} // namespace

void* Allocate(std::size_t size)
{
    if (size == 0)
        return nullptr;
    if (size < LargeBlock) {
        void* p = std::malloc(size);
        if (!p)
            throw std::bad_alloc();
        return p;
    }
    if (size > SIZE_MAX - 2 * Alignment)
        throw std::bad_alloc();
    const std::size_t mapped = MappedSize(size);
    if (void* block = TheCache().Take(mapped))
        return block;
    void* block = MapAligned(mapped);
    Populate(block, mapped);
    return block;
}

void Free(void* block, std::size_t size) noexcept
{
    if (!block)
        return;
    if (size < LargeBlock) {
        std::free(block);
        return;
    }
    Kept evicted[KeptBlocks + 1];
    const std::size_t n = TheCache().Put(block, MappedSize(size), evicted);
    for (std::size_t i = 0; i < n; ++i)
        munmap(evicted[i].Block, evicted[i].Mapped);
}

void Discard(void* block, std::size_t size) noexcept
{
    if (block && size >= LargeBlock)
        munmap(block, MappedSize(size));
    else
        Free(block, size);
}

std::size_t BlockBytes(std::size_t size) noexcept
{
    if (size < LargeBlock || size > SIZE_MAX - Alignment)
        return size;
    return MappedSize(size);
}

void Trim() noexcept
{
    Cache& cache = TheCache();
    Kept blocks[KeptBlocks];
    std::size_t n;
    {
        std::lock_guard<std::mutex> guard(cache.Lock);
        n = cache.Count;
        for (std::size_t i = 0; i < n; ++i)
            blocks[i] = cache.Blocks[i];
        cache.Count = 0;
        cache.Bytes = 0;
    }
    for (std::size_t i = 0; i < n; ++i)
        munmap(blocks[i].Block, blocks[i].Mapped);
}

std::size_t CachedBytes() noexcept
{
    Cache& cache = TheCache();
    std::lock_guard<std::mutex> guard(cache.Lock);
    return cache.Bytes;
}

std::uint64_t AllowanceFor(std::int64_t pages, std::int64_t pageSize, std::uint64_t largest) noexcept
{
    // In 64 bits whatever the size of size_t: on a 32-bit system 4 GB, or a
    // quarter of a 16 GB machine, would wrap to nothing.
    const std::uint64_t most = std::min(std::uint64_t{4} << 30, largest);
    if (pages <= 0 || pageSize <= 0)
        return most;
    const auto quarter = static_cast<std::uint64_t>(pages) / 4;
    const auto size = static_cast<std::uint64_t>(pageSize);
    if (quarter > most / size)
        return most;
    return quarter * size;
}

std::size_t Allowance() noexcept
{
    return static_cast<std::size_t>(AllowanceFor(sysconf(_SC_PHYS_PAGES), sysconf(_SC_PAGE_SIZE), SIZE_MAX));
}

} // namespace pixelmemory

TPixelBuffer::TPixelBuffer(std::size_t size) : TPixelBuffer(Uninitialised(size))
{
    if (FSize)
        std::memset(FData, 0, FSize);
}

TPixelBuffer TPixelBuffer::Uninitialised(std::size_t size)
{
    return Uninitialised(size, size);
}

TPixelBuffer TPixelBuffer::Uninitialised(std::size_t size, std::size_t room)
{
    TPixelBuffer b;
    const std::size_t allocated = std::max(size, room);
    b.FData = static_cast<std::uint8_t*>(pixelmemory::Allocate(allocated));
    b.FSize = size;
    b.FAllocated = allocated;
    return b;
}

TPixelBuffer::TPixelBuffer(const TPixelBuffer& other)
{
    AssignBytes(other.FData, other.FSize);
}

TPixelBuffer& TPixelBuffer::operator=(const TPixelBuffer& other)
{
    if (&other != this)
        AssignBytes(other.FData, other.FSize);
    return *this;
}

TPixelBuffer::TPixelBuffer(TPixelBuffer&& other) noexcept
    : FData(std::exchange(other.FData, nullptr)), FSize(std::exchange(other.FSize, 0)),
      FAllocated(std::exchange(other.FAllocated, 0))
{
}

TPixelBuffer& TPixelBuffer::operator=(TPixelBuffer&& other) noexcept
{
    if (&other != this) {
        clear();
        FData = std::exchange(other.FData, nullptr);
        FSize = std::exchange(other.FSize, 0);
        FAllocated = std::exchange(other.FAllocated, 0);
    }
    return *this;
}

void TPixelBuffer::AssignBytes(const std::uint8_t* data, std::size_t size)
{
    if (size != FSize) {
        // The new memory is had before the old is let go: a failure keeps
        // the buffer as it was.
        TPixelBuffer fresh = Uninitialised(size);
        swap(fresh);
    }
    CopyPixels(FData, data, size);
}

void CopyPixels(std::uint8_t* dest, const std::uint8_t* source, std::size_t size)
{
    // Large copies go in 1 MB pieces over the pool: several cores move
    // more bytes a second than one.
    constexpr std::size_t piece = std::size_t{1} << 20;
    if (size < 8 * piece) {
        if (size)
            std::memcpy(dest, source, size);
        return;
    }
    parallel::For((size + piece - 1) / piece, 1, [&](std::size_t first, std::size_t end) {
        const std::size_t from = first * piece, to = std::min(size, end * piece);
        std::memcpy(dest + from, source + from, to - from);
    });
}

void TPixelBuffer::clear() noexcept
{
    pixelmemory::Free(FData, FAllocated);
    FData = nullptr;
    FSize = 0;
    FAllocated = 0;
}

void TPixelBuffer::swap(TPixelBuffer& other) noexcept
{
    std::swap(FData, other.FData);
    std::swap(FSize, other.FSize);
    std::swap(FAllocated, other.FAllocated);
}
