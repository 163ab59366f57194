#pragma once
// The decompressors of the image readers: one TDecoder class per scheme
// (TIFF LZW, PackBits, PCX, SGI, Dr. Halo CUT, GIF LZW and Wavefront RLA
// run-length), and the Targa run-length decoder and row encoder.
//
// Every decoder reads at most packedSize bytes from source and writes at most
// unpackedSize bytes into dest; a run or copy that would go further is cut at
// the limit. Decode answers the number of bytes written. Only the CUT decoder
// moves source on (to just behind the row's ending zero byte); the others
// leave it where it was and the caller steps over the packed bytes itself.
// A reader makes one decoder per load and calls Decode once per strip, row
// or image; the LZW tables live inside the object, so a decode allocates
// nothing.

#include <cstddef>
#include <cstdint>

class TDecoder {
public:
    virtual ~TDecoder() = default;
    virtual std::size_t Decode(const std::uint8_t*& source, std::uint8_t* dest, std::size_t packedSize,
                               std::size_t unpackedSize) = 0;
    // No decoder of the family encodes: every class leaves this empty.
    virtual void Encode(const void* source, void* dest, std::size_t count) = 0;
};

// The state shared by the two LZW decoders. A table entry is a string that
// has already been written to the output: it is kept as where it starts
// there and how long it is, and copied from there when its code comes again.
// The tables live inside the object, so a decode allocates nothing.
class TLZWDecoder : public TDecoder {
public:
    void Encode(const void*, void*, std::size_t) override {}

protected:
    static constexpr std::size_t TableSize = 4096;
    static constexpr std::uint32_t NoCode = 4096;

    // Decodes the codes of either variant and keeps the state they leave.
    // Tiff: codes most significant bit first, the width growing once the
    // next free entry is 2^width - 1 (early change); else GIF (and TIFF
    // before version 6): least significant bit first, the width growing
    // once the entry 2^width - 1 has been filled. initialWidth is the width
    // after a clear code.
    template <bool Tiff>
    std::size_t DecodeCodes(const std::uint8_t* in, std::size_t packedSize, std::uint8_t* dest,
                            std::size_t unpackedSize, std::uint32_t initialWidth, const char* message);

    // The state as the last Decode left it.
    std::uint32_t CodeSize = 0;
    std::uint32_t CodeMask = 0;
    std::uint32_t FreeCode = 0;
    std::uint32_t OldCode = NoCode;
    std::uint16_t ClearCode = 0;
    std::uint16_t EOICode = 0;
    std::size_t Offset[TableSize] = {}; // where an entry's string starts in the output
    std::uint16_t Length[TableSize] = {};
};

// TIFF LZW: codes most significant bit first, 9 to 12 bits, early change;
// strips of the older packing (codes lowest bit first, no early change) are
// told by their first two bytes and read the GIF way.
class TTIFFLZW : public TLZWDecoder {
public:
    std::size_t Decode(const std::uint8_t*& source, std::uint8_t* dest, std::size_t packedSize,
                       std::size_t unpackedSize) override;
};

// GIF LZW: codes least significant bit first, from InitialCodeSize + 1 bits up
// to 12 bits.
class TGIFLZW : public TLZWDecoder {
public:
    // The GIF minimum code size (2 to 8), set before Decode.
    std::uint8_t InitialCodeSize = 8;
    std::size_t Decode(const std::uint8_t*& source, std::uint8_t* dest, std::size_t packedSize,
                       std::size_t unpackedSize) override;
};

class TPackbitsRLE : public TDecoder {
public:
    std::size_t Decode(const std::uint8_t*& source, std::uint8_t* dest, std::size_t packedSize,
                       std::size_t unpackedSize) override;
    void Encode(const void*, void*, std::size_t) override {}
};

// PCX run-length; unpackedSize is the size of the one row it fills.
class TPCXRLE : public TDecoder {
public:
    std::size_t Decode(const std::uint8_t*& source, std::uint8_t* dest, std::size_t packedSize,
                       std::size_t unpackedSize) override;
    void Encode(const void*, void*, std::size_t) override {}
};

// SGI run-length of one channel row; a zero count ends the row.
class TSGIRLE : public TDecoder {
public:
    // Bytes per sample, 1 or 2; 16-bit samples keep their high byte.
    std::uint8_t SampleSize = 1;
    std::size_t Decode(const std::uint8_t*& source, std::uint8_t* dest, std::size_t packedSize,
                       std::size_t unpackedSize) override;
    void Encode(const void*, void*, std::size_t) override {}
};

// Dr. Halo CUT run-length of one row (with its two-byte byte count in
// front); source moves to the start of the next row.
class TCUTRLE : public TDecoder {
public:
    std::size_t Decode(const std::uint8_t*& source, std::uint8_t* dest, std::size_t packedSize,
                       std::size_t unpackedSize) override;
    void Encode(const void*, void*, std::size_t) override {}
};

// Wavefront RLA run-length. A channel of more than 8 bits stores one run of
// packets a byte of its samples, one behind the other: Consumed tells where
// the last Decode stopped reading, so that the next byte's packets follow.
class TRLADecoder : public TDecoder {
public:
    std::size_t Decode(const std::uint8_t*& source, std::uint8_t* dest, std::size_t packedSize,
                       std::size_t unpackedSize) override;
    void Encode(const void*, void*, std::size_t) override {}
    // Packed bytes the last Decode read, up to the packet that filled the
    // output.
    std::size_t Consumed() const { return FConsumed; }

private:
    std::size_t FConsumed = 0;
};

// Bytes per pixel of a Targa pixel depth (8, 15, 16, 24 or 32 bits); 0 for
// any other depth.
std::size_t TargaBytesPerPixel(std::uint8_t colorDepth);

// Targa run-length decoding that carries a packet across calls: Targa files
// may run a packet over the end of a row, and the rest of it belongs to the
// next row.
class TTargaRLEReader {
public:
    explicit TTargaRLEReader(std::uint8_t colorDepth);
    // Writes count bytes (whole pixels) into dest from the packets at source
    // (at most sourceSize bytes); answers the source bytes consumed. Stops
    // early when the packed data ends; dest keeps what it held there.
    std::size_t Decode(const std::uint8_t* source, std::size_t sourceSize, std::uint8_t* dest, std::size_t count);
    // Output bytes written by the last Decode.
    std::size_t Written() const { return FWritten; }

private:
    std::size_t FBpp;
    std::size_t FPending = 0; // pixels of the current packet still to write
    bool FRun = false;
    std::uint8_t FPixel[4] = {};
    std::size_t FWritten = 0;
};

// Decodes one row of count bytes at a fresh packet boundary; answers the
// source bytes consumed, 0 (and nothing written) for a depth other than 8,
// 15, 16, 24 or 32.
std::size_t DecodeTargaRLE(const std::uint8_t* source, std::size_t sourceSize, std::uint8_t* dest,
                           std::size_t count, std::uint8_t colorDepth);

// Encodes one row of count pixels of bpp bytes (1 to 4) as Targa packets;
// dest takes at least twice the row's bytes. Answers the bytes written.
std::size_t EncodeTargaRLE(const std::uint8_t* source, std::uint8_t* dest, std::size_t count, std::size_t bpp);
// Pixels before the first pair of equal neighbours (all when none; 1 for one).
std::size_t CountDiffPixels(const std::uint8_t* source, std::size_t bpp, std::size_t count);
// Leading pixels equal to the first (at least 1).
std::size_t CountSamePixels(const std::uint8_t* source, std::size_t bpp, std::size_t count);
// The bpp bytes of a pixel read as one big-endian number.
std::uint32_t PixelValue(const std::uint8_t* pixel, std::size_t bpp);
