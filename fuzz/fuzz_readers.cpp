// Loads arbitrary bytes with one of the reader classes, chosen by the first
// byte; the decoders get the rest raw as well. Only the graphics layer's
// exceptions are expected; anything else is a finding.

#include "ImageReaders.h"
#include "ReaderCompression.h"

#include "Exceptions.h"
#include "Streams.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

namespace {

std::unique_ptr<TBitmap> MakeReader(std::uint8_t selector)
{
    switch (selector % 11) {
    case 0:
        return std::make_unique<TTIFFGraphic>();
    case 1:
        return std::make_unique<TTargaGraphic>();
    case 2:
        return std::make_unique<TPCXGraphic>();
    case 3:
        return std::make_unique<TPCDGraphic>();
    case 4:
        return std::make_unique<TPPMGraphic>();
    case 5:
        return std::make_unique<TSGIGraphic>();
    case 6:
        return std::make_unique<TAutodeskGraphic>();
    case 7:
        return std::make_unique<TCUTGraphic>();
    case 8:
        return std::make_unique<TRLAGraphic>();
    case 9:
        return std::make_unique<TGIFGraphic>();
    default:
        return std::make_unique<TPSDGraphic>();
    }
}

void Decoders(const std::uint8_t* data, std::size_t size)
{
    std::vector<std::uint8_t> out(4096);
    TTIFFLZW tiff;
    TGIFLZW gif;
    gif.InitialCodeSize = static_cast<std::uint8_t>(2 + size % 7);
    TPackbitsRLE packbits;
    TPCXRLE pcx;
    TSGIRLE sgi;
    sgi.SampleSize = static_cast<std::uint8_t>(1 + size % 2);
    TCUTRLE cut;
    TRLADecoder rla;
    TDecoder* decoders[] = {&tiff, &gif, &packbits, &pcx, &sgi, &cut, &rla};
    for (TDecoder* d : decoders) {
        try {
            const std::uint8_t* src = data;
            d->Decode(src, out.data(), size, out.size() - size % 64);
        } catch (const Exception&) {
        }
    }
    for (std::uint8_t depth : {8, 16, 24, 32})
        DecodeTargaRLE(data, size, out.data(), out.size() - size % 64, depth);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size == 0)
        return 0;
    SetPixelBudget(std::size_t{1} << 22);
    Decoders(data + 1, size - 1);
    try {
        std::unique_ptr<TBitmap> reader = MakeReader(data[0]);
        TMemoryStream stream(std::vector<std::uint8_t>(data + 1, data + size));
        reader->LoadFromStream(stream);
        if (!reader->Empty()) {
            TMemoryStream out;
            reader->SaveToStream(out);
        }
    } catch (const Exception&) {
    }
    return 0;
}
