// The extension blocks that precede a frame, their registries, the list that
// reads them, and the trailer.

#include "GifCodec.h"

#include <algorithm>
#include <cstring>

namespace {

// Reads up to count bytes; answers how many came.
std::size_t ReadAvailable(TStream& stream, void* buffer, std::size_t count)
{
    auto* p = static_cast<std::uint8_t*>(buffer);
    std::size_t done = 0;
    while (done < count) {
        const std::size_t n = stream.Read(p + done, count - done);
        if (n == 0)
            break;
        done += n;
    }
    return done;
}

// Steps over count bytes when the data holds them; false otherwise.
bool SkipAvailable(TStream& stream, std::size_t count)
{
    if (count == 0)
        return true;
    if (static_cast<std::uint64_t>(std::max<std::int64_t>(stream.Remaining(), 0)) < count) {
        stream.Seek(0, soEnd);
        return false;
    }
    stream.Seek(static_cast<std::int64_t>(count), soCurrent);
    return true;
}

// Steps over data sub-blocks through their terminator or the end of data.
void SkipSubBlocks(TStream& stream)
{
    std::uint8_t length = 0;
    while (ReadByteIfAny(stream, length) && length != 0)
        if (!SkipAvailable(stream, length))
            return;
}

template <class T>
std::unique_ptr<TGIFExtension> Make(TGIFFrameOwner* frame)
{
    return std::make_unique<T>(frame);
}

} // namespace

// ---------------------------------------------------------------------------
// Trailer

void TGIFTrailer::SaveToStream(TStream& stream) const
{
    WriteByte(stream, 0x3B);
}

void TGIFTrailer::LoadFromStream(TStream& stream)
{
    std::uint8_t b = 0;
    if (ReadByteIfAny(stream, b) && b != 0x3B)
        ReportWarning(1, "Invalid Image trailer");
}

// ---------------------------------------------------------------------------
// Extension base

TGIFExtension::TGIFExtension(TGIFFrameOwner* frame)
    : TGIFItem(frame ? frame->FrameImage() : nullptr), Frame(frame)
{
}

TGIFExtension::~TGIFExtension()
{
    if (Frame)
        Frame->Extensions().Detach(this);
}

TGIFExtensionClass TGIFExtension::ResolveClass(TGIFExtensionClass self, TStream&)
{
    return self;
}

void TGIFExtension::ReadIntroducer(TStream& stream)
{
    std::uint8_t head[2];
    ReadExact(stream, head, sizeof head);
    if (head[0] != 0x21)
        RaiseGIFError("Invalid extension introducer");
    if (head[1] != BlockLabel())
        RaiseGIFError("Internal error: Extension Instance does not match Extension Label");
}

void TGIFExtension::WriteIntroducer(TStream& stream) const
{
    const std::uint8_t head[2] = {0x21, BlockLabel()};
    stream.WriteBuffer(head, sizeof head);
}

// ---------------------------------------------------------------------------
// Graphic control

TGIFExtensionClass TGIFGraphicControlExtension::Class()
{
    static const TGIFExtensionClassInfo info{"TGIFGraphicControlExtension", &Make<TGIFGraphicControlExtension>,
                                             &TGIFExtension::ResolveClass};
    return &info;
}

TGIFGraphicControlExtension::TGIFGraphicControlExtension(TGIFFrameOwner* frame) : TGIFExtension(frame)
{
    if (Frame && !Frame->GraphicControl())
        Frame->SetGraphicControl(this);
}

TGIFGraphicControlExtension::~TGIFGraphicControlExtension()
{
    if (!Frame)
        return;
    if (TransparentFlag())
        Frame->SetFrameTransparent(false);
    if (Frame->GraphicControl() == this)
        Frame->SetGraphicControl(nullptr);
}

std::uint16_t TGIFGraphicControlExtension::DelayTime() const
{
    return static_cast<std::uint16_t>(Block[2] | (Block[3] << 8));
}

void TGIFGraphicControlExtension::SetDelayTime(std::uint16_t value)
{
    Block[2] = static_cast<std::uint8_t>(value);
    Block[3] = static_cast<std::uint8_t>(value >> 8);
}

void TGIFGraphicControlExtension::SetDisposalMethod(int value)
{
    Block[1] = static_cast<std::uint8_t>((Block[1] & ~0x1C) | ((value & 7) << 2));
}

void TGIFGraphicControlExtension::SetTransparentFlag(bool value)
{
    Block[1] = static_cast<std::uint8_t>(value ? (Block[1] | 1) : (Block[1] & ~1));
    if (Frame)
        Frame->SetFrameTransparent(value);
}

void TGIFGraphicControlExtension::SetTransparentIndex(int value)
{
    bool invalid = value < 0 || value > 255;
    if (!invalid && Frame) {
        const TGIFColorMap& table = Frame->EffectiveColorMap();
        invalid = table.EntryCount() > 0 && value >= table.EntryCount();
    }
    if (invalid) {
        ReportWarning(1, "Invalid color index");
        value = 0;
    }
    Block[4] = static_cast<std::uint8_t>(value);
}

void TGIFGraphicControlExtension::SaveToStream(TStream& stream) const
{
    WriteIntroducer(stream);
    const std::uint8_t block[6] = {4, Block[1], Block[2], Block[3], Block[4], 0};
    stream.WriteBuffer(block, sizeof block);
}

void TGIFGraphicControlExtension::LoadFromStream(TStream& stream)
{
    ReadIntroducer(stream);
    auto premature = [this] { ReportWarning(1, "Premature end of data"); };
    std::uint8_t size = 0;
    if (!ReadByteIfAny(stream, size))
        return premature();
    Block[0] = size;
    // The four fields; a longer block has bytes nobody here knows.
    const std::size_t fields = std::min<std::size_t>(size, 4);
    if (ReadAvailable(stream, Block.data() + 1, fields) < fields)
        return premature();
    if (size > 4 && !SkipAvailable(stream, size - 4u))
        return premature();
    // Sub-blocks up to the terminator.
    for (;;) {
        std::uint8_t length = 0;
        if (!ReadByteIfAny(stream, length))
            return premature();
        if (length == 0)
            break;
        if (!SkipAvailable(stream, length))
            return premature();
    }
    Block[5] = 0;
    if (TransparentFlag() && Frame)
        Frame->SetFrameTransparent(true);
}

// ---------------------------------------------------------------------------
// Plain text and comment

TGIFExtensionClass TGIFTextExtension::Class()
{
    static const TGIFExtensionClassInfo info{"TGIFTextExtension", &Make<TGIFTextExtension>,
                                             &TGIFExtension::ResolveClass};
    return &info;
}

TGIFTextExtension::TGIFTextExtension(TGIFFrameOwner* frame) : TGIFExtension(frame)
{
    TextHeader.fill(0);
    TextHeader[0] = 12;
}

void TGIFTextExtension::SaveToStream(TStream& stream) const
{
    WriteIntroducer(stream);
    stream.WriteBuffer(TextHeader.data(), TextHeader.size());
    WriteStringBlocks(stream, TextLines);
}

void TGIFTextExtension::LoadFromStream(TStream& stream)
{
    ReadIntroducer(stream);
    ReadExact(stream, TextHeader.data(), TextHeader.size());
    ReadStringBlocks(stream, TextLines);
}

TGIFExtensionClass TGIFCommentExtension::Class()
{
    static const TGIFExtensionClassInfo info{"TGIFCommentExtension", &Make<TGIFCommentExtension>,
                                             &TGIFExtension::ResolveClass};
    return &info;
}

void TGIFCommentExtension::SaveToStream(TStream& stream) const
{
    WriteIntroducer(stream);
    WriteStringBlocks(stream, TextLines);
}

void TGIFCommentExtension::LoadFromStream(TStream& stream)
{
    ReadIntroducer(stream);
    ReadStringBlocks(stream, TextLines);
}

// ---------------------------------------------------------------------------
// Application extensions

TGIFExtensionClass TGIFApplicationExtension::Class()
{
    static const TGIFExtensionClassInfo info{"TGIFApplicationExtension", &Make<TGIFApplicationExtension>,
                                             &TGIFApplicationExtension::ResolveClass};
    return &info;
}

TGIFExtensionClass TGIFApplicationExtension::ResolveClass(TGIFExtensionClass self, TStream& stream)
{
    const std::int64_t start = stream.Position();
    std::uint8_t size = 0;
    if (!ReadByteIfAny(stream, size))
        return nullptr;
    if (size == 10) {
        std::uint8_t id[10];
        return ReadAvailable(stream, id, sizeof id) == sizeof id ? TGIFUnknownAppExtension::Class() : nullptr;
    }
    if (size >= 11) {
        std::uint8_t id[11];
        if (ReadAvailable(stream, id, sizeof id) == sizeof id) {
            // Only a block of the standard size names a known application.
            if (size > 11)
                return TGIFUnknownAppExtension::Class();
            TGIFExtensionClass cls = AppExtensionRegistry().Lookup(id);
            return cls ? cls : TGIFUnknownAppExtension::Class();
        }
    }
    stream.SetPosition(start);
    return self;
}

void TGIFApplicationExtension::SetIdentifier(const char* text11)
{
    Identifier.fill(0);
    std::memcpy(Identifier.data(), text11, std::min<std::size_t>(std::strlen(text11), Identifier.size()));
}

std::string TGIFApplicationExtension::IdentifierText() const
{
    return std::string(reinterpret_cast<const char*>(Identifier.data()), Identifier.size());
}

void TGIFApplicationExtension::SaveToStream(TStream& stream) const
{
    WriteIntroducer(stream);
    WriteByte(stream, 11);
    stream.WriteBuffer(Identifier.data(), Identifier.size());
    WritePayload(stream);
}

void TGIFApplicationExtension::LoadFromStream(TStream& stream)
{
    ReadIntroducer(stream);
    std::uint8_t size = 0;
    ReadExact(stream, &size, 1);
    if (size < 10)
        RaiseGIFError("Unsupported Application Extension block size");
    if (size == 10) {
        ReadExact(stream, Identifier.data(), 10);
        Identifier[10] = 0;
    } else {
        ReadExact(stream, Identifier.data(), 11);
        SkipExact(stream, size - 11u);
    }
    ReadPayload(stream);
}

void TGIFApplicationExtension::WritePayload(TStream& stream) const
{
    WriteByte(stream, 0);
}

void TGIFApplicationExtension::ReadPayload(TStream& stream)
{
    std::uint8_t length = 0;
    while (ReadByteIfAny(stream, length) && length != 0)
        SkipExact(stream, length);
}

TGIFExtensionClass TGIFUnknownAppExtension::Class()
{
    static const TGIFExtensionClassInfo info{"TGIFUnknownAppExtension", &Make<TGIFUnknownAppExtension>,
                                             &TGIFExtension::ResolveClass};
    return &info;
}

void TGIFUnknownAppExtension::WritePayload(TStream& stream) const
{
    for (const TGIFBlock& block : RawBlocks) {
        WriteByte(stream, block.BlockSize);
        stream.WriteBuffer(block.Bytes.data(), block.BlockSize);
    }
    WriteByte(stream, 0);
}

void TGIFUnknownAppExtension::ReadPayload(TStream& stream)
{
    RawBlocks.clear();
    std::uint8_t length = 0;
    while (ReadByteIfAny(stream, length) && length != 0) {
        TGIFBlock block;
        block.BlockSize = length;
        block.Bytes.assign(length, 0);
        ReadExact(stream, block.Bytes.data(), length);
        RawBlocks.push_back(std::move(block));
    }
}

TGIFExtensionClass TGIFAppExtNSLoop::Class()
{
    static const TGIFExtensionClassInfo info{"TGIFAppExtNSLoop", &Make<TGIFAppExtNSLoop>,
                                             &TGIFExtension::ResolveClass};
    return &info;
}

TGIFAppExtNSLoop::TGIFAppExtNSLoop(TGIFFrameOwner* frame) : TGIFApplicationExtension(frame)
{
    SetIdentifier("NETSCAPE2.0");
}

void TGIFAppExtNSLoop::WritePayload(TStream& stream) const
{
    const std::uint8_t loop[4] = {0x03, 0x01, static_cast<std::uint8_t>(LoopCount),
                                  static_cast<std::uint8_t>(LoopCount >> 8)};
    stream.WriteBuffer(loop, sizeof loop);
    if (BufferingSize != 0) {
        const std::uint8_t buffering[6] = {
            0x05, 0x02, static_cast<std::uint8_t>(BufferingSize), static_cast<std::uint8_t>(BufferingSize >> 8),
            static_cast<std::uint8_t>(BufferingSize >> 16), static_cast<std::uint8_t>(BufferingSize >> 24),
        };
        stream.WriteBuffer(buffering, sizeof buffering);
    }
    WriteByte(stream, 0);
}

void TGIFAppExtNSLoop::ReadPayload(TStream& stream)
{
    std::uint8_t length = 0;
    while (ReadByteIfAny(stream, length) && length != 0) {
        std::uint8_t first = 0;
        ReadExact(stream, &first, 1);
        const int kind = first & 7;
        if (kind == 1 && length >= 3) {
            std::uint8_t v[2];
            ReadExact(stream, v, sizeof v);
            LoopCount = static_cast<std::uint16_t>(v[0] | (v[1] << 8));
            SkipExact(stream, length - 3u);
        } else if (kind == 2 && length >= 5) {
            std::uint8_t v[4];
            ReadExact(stream, v, sizeof v);
            BufferingSize = static_cast<std::uint32_t>(v[0]) | (static_cast<std::uint32_t>(v[1]) << 8) |
                            (static_cast<std::uint32_t>(v[2]) << 16) | (static_cast<std::uint32_t>(v[3]) << 24);
            SkipExact(stream, length - 5u);
        } else {
            // A sub-block too short for its kind spoils nothing else.
            if (kind == 1 || kind == 2)
                ReportWarning(1, "Invalid GIF data");
            SkipExact(stream, length - 1u);
        }
    }
}

// ---------------------------------------------------------------------------
// Registries

void TExtensionList::Register(TGIFExtensionClass cls, std::uint8_t label)
{
    FEntries.push_back(Entry{cls, label});
}

TGIFExtensionClass TExtensionList::Lookup(std::uint8_t label) const
{
    for (auto it = FEntries.rbegin(); it != FEntries.rend(); ++it)
        if (it->Label == label)
            return it->Class;
    return nullptr;
}

void TAppExtensionList::Register(TGIFExtensionClass cls, const std::uint8_t* identifier11)
{
    Entry entry{cls, {}};
    std::memcpy(entry.Identifier.data(), identifier11, entry.Identifier.size());
    FEntries.push_back(entry);
}

void TAppExtensionList::Register(TGIFExtensionClass cls, const char* identifier11)
{
    std::array<std::uint8_t, 11> id{};
    std::memcpy(id.data(), identifier11, std::min<std::size_t>(std::strlen(identifier11), id.size()));
    Register(cls, id.data());
}

TGIFExtensionClass TAppExtensionList::Lookup(const std::uint8_t* identifier11) const
{
    for (auto it = FEntries.rbegin(); it != FEntries.rend(); ++it)
        if (std::memcmp(it->Identifier.data(), identifier11, it->Identifier.size()) == 0)
            return it->Class;
    return nullptr;
}

TExtensionList& ExtensionRegistry()
{
    static TExtensionList registry = [] {
        TExtensionList list;
        list.Register(TGIFTextExtension::Class(), 0x01);
        list.Register(TGIFGraphicControlExtension::Class(), 0xF9);
        list.Register(TGIFCommentExtension::Class(), 0xFE);
        list.Register(TGIFApplicationExtension::Class(), 0xFF);
        return list;
    }();
    return registry;
}

TAppExtensionList& AppExtensionRegistry()
{
    static TAppExtensionList registry = [] {
        TAppExtensionList list;
        list.Register(TGIFAppExtNSLoop::Class(), "NETSCAPE2.0");
        list.Register(TGIFAppExtNSLoop::Class(), "ANIMEXTS1.0");
        return list;
    }();
    return registry;
}

TGIFExtensionClass FindExtensionClass(TStream& stream)
{
    const std::int64_t start = stream.Position();
    std::uint8_t label = 0;
    if (!ReadByteIfAny(stream, label)) {
        stream.SetPosition(start);
        return nullptr;
    }
    TGIFExtensionClass cls = ExtensionRegistry().Lookup(label);
    while (cls) {
        TGIFExtensionClass next = cls->ResolveClass(cls, stream);
        if (next == cls)
            break;
        cls = next;
    }
    stream.SetPosition(start);
    return cls;
}

// ---------------------------------------------------------------------------
// Extension list

void TGIFExtensionList::LoadFromStream(TStream& stream, TPersistent* parent)
{
    auto* frame = dynamic_cast<TGIFFrameOwner*>(parent);
    std::uint8_t b = 0;
    if (!ReadByteIfAny(stream, b))
        return;
    while (b != 0x2C && b != 0x3B) {
        if (b != 0x21) {
            ReportWarning(1, "Invalid extension introducer");
            break;
        }
        TGIFExtensionClass cls = FindExtensionClass(stream);
        if (!cls) {
            // An extension nobody here reads: stepped over by its sub-blocks.
            ReportWarning(1, "Unknown extension type");
            std::uint8_t label = 0;
            ReadByteIfAny(stream, label);
            SkipSubBlocks(stream);
            if (!ReadByteIfAny(stream, b))
                return;
            continue;
        }
        stream.Seek(-1, soCurrent);
        std::unique_ptr<TGIFExtension> extension = cls->Create(frame);
        extension->LoadFromStream(stream);
        Append(std::move(extension));
        if (!ReadByteIfAny(stream, b))
            return;
    }
    stream.Seek(-1, soCurrent);
}

TGIFExtension* TGIFExtensionList::ExtensionAt(int index) const
{
    return dynamic_cast<TGIFExtension*>(ItemAt(index));
}
