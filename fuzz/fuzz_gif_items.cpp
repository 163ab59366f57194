// Reads arbitrary bytes as the start of a GIF stream: the header with its
// global colour table, then the extension lists and local colour tables of
// the frames (pixel data skipped as sub-blocks). Whatever was read must write
// back and read again, and settle to the same bytes. Any outcome but that or one of our
// exceptions is a finding.

#include "Exceptions.h"
#include "GifCodec.h"
#include "Streams.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <vector>

namespace {

class TFuzzFrame;

class TFuzzImage : public TPersistent, public TGIFImageOwner {
public:
    TFuzzImage() : Header(this) {}
    void RaiseWarning(TPersistent&, int, const std::string&) override { ++Warnings; }
    int RequiredVersion() const override { return 0; }
    int MaxColorResolution() const override { return Header.GlobalResolution(); }
    int MaxBitsPerPixel() const override { return Header.GlobalTableBits(); }
    int FrameCount() const override { return static_cast<int>(Frames.size()); }
    TGIFFrameOwner& FrameAt(int index) override;
    void DropPalette() override {}

    int Warnings = 0;
    std::vector<std::unique_ptr<TFuzzFrame>> Frames;
    TGIFHeader Header;
};

class TFuzzFrame : public TPersistent, public TGIFFrameOwner {
public:
    explicit TFuzzFrame(TFuzzImage* image) : Image(image), List(image), Local(this) {}
    ~TFuzzFrame() override { List.FreeAll(); }
    TGIFImageOwner* FrameImage() const override { return Image; }
    TGIFExtensionList& Extensions() override { return List; }
    TGIFGraphicControlExtension* GraphicControl() const override { return Control; }
    void SetGraphicControl(TGIFGraphicControlExtension* extension) override { Control = extension; }
    bool FrameTransparent() const override { return Transparent; }
    void SetFrameTransparent(bool value) override { Transparent = value; }
    TGIFColorMap& EffectiveColorMap() override
    {
        if (Local.EntryCount() > 0 || Image->Header.GlobalTable.EntryCount() == 0)
            return Local;
        return Image->Header.GlobalTable;
    }
    std::uint8_t* PixelData() override { return Pixels.empty() ? nullptr : Pixels.data(); }
    std::size_t PixelDataSize() const override { return Pixels.size(); }
    void FramePaletteChanged() override {}

    TFuzzImage* Image;
    TGIFExtensionList List;
    TGIFLocalColorMap Local;
    TGIFGraphicControlExtension* Control = nullptr;
    bool Transparent = false;
    std::vector<std::uint8_t> Pixels;
};

TGIFFrameOwner& TFuzzImage::FrameAt(int index)
{
    return *Frames.at(static_cast<std::size_t>(index));
}

// Reads the start of a stream into image; stops at the first exception.
void ReadStart(TStream& stream, TFuzzImage& image)
{
    image.Header.LoadFromStream(stream);
    for (int n = 0; n < 16; ++n) {
        image.Frames.push_back(std::make_unique<TFuzzFrame>(&image));
        TFuzzFrame& frame = *image.Frames.back();
        frame.List.LoadFromStream(stream, &frame);
        std::uint8_t b = 0;
        if (!ReadByteIfAny(stream, b) || b != 0x2C)
            return;
        std::uint8_t descriptor[9];
        ReadExact(stream, descriptor, sizeof descriptor);
        if (descriptor[8] & 0x80)
            frame.Local.ReadTable(stream, 2 << (descriptor[8] & 7));
        // The pixel data: its code size byte, then sub-blocks; the pixels
        // of the frame are the data bytes themselves, at most 4096.
        ReadByte(stream);
        std::uint8_t length = 0;
        while (ReadByteIfAny(stream, length) && length != 0) {
            std::vector<std::uint8_t> block(length);
            ReadExact(stream, block.data(), length);
            if (frame.Pixels.size() < 4096)
                frame.Pixels.insert(frame.Pixels.end(), block.begin(), block.end());
        }
    }
}

std::vector<std::uint8_t> WriteStart(TFuzzImage& image)
{
    TMemoryStream out;
    image.Header.SaveToStream(out);
    for (auto& frame : image.Frames)
        frame->List.SaveToStream(out);
    return out.TakeData();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    TFuzzImage image;
    try {
        TMemoryStream stream(std::vector<std::uint8_t>(data, data + size));
        ReadStart(stream, image);
    } catch (const Exception&) {
    }
    // Ordering by use renumbers pixels and transparent indices in range.
    try {
        image.Header.GlobalTable.SortByUsage();
        for (auto& frame : image.Frames)
            frame->Local.SortByUsage();
        if (image.Header.GlobalTable.EntryCount() > 0)
            image.Header.BackgroundColor();
    } catch (const Exception&) {
    }

    // What was read writes back and reads again; from then on the bytes
    // stay the same (the first writing may put blocks in their standard form).
    std::vector<std::uint8_t> written;
    try {
        written = WriteStart(image);
    } catch (const Exception&) {
        return 0; // an unsupported version, for example
    }
    std::vector<std::uint8_t> previous;
    for (int generation = 0; generation < 2; ++generation) {
        TFuzzImage again;
        TMemoryStream stream(written);
        try {
            ReadStart(stream, again);
        } catch (const Exception&) {
            std::abort();
        }
        previous = written;
        written = WriteStart(again);
    }
    if (written != previous)
        std::abort();
    return 0;
}
