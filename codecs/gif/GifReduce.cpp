// The octree colour quantiser and the reduction of true-colour bitmaps to a
// palette of at most 256 colours.

#include "GifCodec.h"

#include <algorithm>

namespace {

constexpr const char* InvalidColorCount = "Invalid number of colors";

} // namespace

// ---------------------------------------------------------------------------
// Octree

TOctreeNode::TOctreeNode(int level, int depth, int& leaves, std::array<TOctreeNode*, 8>& reducible)
{
    Leaf = level == depth;
    if (Leaf) {
        ++leaves;
    } else {
        NextReducible = reducible[static_cast<std::size_t>(level)];
        reducible[static_cast<std::size_t>(level)] = this;
    }
}

TOctreeNode::~TOctreeNode()
{
    for (int i = 7; i >= 0; --i)
        delete Children[static_cast<std::size_t>(i)];
}

TColorQuantizer::TColorQuantizer(int colorLimit, int depth) : FColorLimit(colorLimit), FDepth(depth)
{
    if (colorLimit < 1 || colorLimit > 256)
        RaiseGIFError(InvalidColorCount);
    if (depth < 1 || depth > 8)
        RaiseGIFError("Invalid octree depth");
}

TColorQuantizer::~TColorQuantizer()
{
    FreeTree(FRoot);
}

void TColorQuantizer::FreeTree(TOctreeNode*& node)
{
    delete node;
    node = nullptr;
}

void TColorQuantizer::InsertColor(TOctreeNode*& node, std::uint8_t red, std::uint8_t green, std::uint8_t blue,
                                  int level)
{
    TOctreeNode** slot = &node;
    for (;;) {
        if (!*slot)
            *slot = new TOctreeNode(level, FDepth, FLeaves, FReducible);
        TOctreeNode* n = *slot;
        if (n->Leaf) {
            ++n->Pixels;
            n->SumR += red;
            n->SumG += green;
            n->SumB += blue;
            return;
        }
        const unsigned mask = OctreeLevelMasks[static_cast<std::size_t>(level)];
        const int shift = 7 - level;
        const unsigned child = (((red & mask) >> shift) << 2) | (((green & mask) >> shift) << 1) |
                               ((blue & mask) >> shift);
        slot = &n->Children[child];
        ++level;
    }
}

void TColorQuantizer::MergeDeepest()
{
    int level = FDepth - 1;
    while (level > 0 && !FReducible[static_cast<std::size_t>(level)])
        --level;
    TOctreeNode* node = FReducible[static_cast<std::size_t>(level)];
    if (!node)
        return;
    FReducible[static_cast<std::size_t>(level)] = node->NextReducible;
    std::int64_t r = 0, g = 0, b = 0;
    int children = 0;
    for (TOctreeNode*& child : node->Children) {
        if (!child)
            continue;
        node->Pixels += child->Pixels;
        r += child->SumR;
        g += child->SumG;
        b += child->SumB;
        delete child;
        child = nullptr;
        ++children;
    }
    node->SumR = r;
    node->SumG = g;
    node->SumB = b;
    node->Leaf = true;
    FLeaves -= children - 1;
}

void TColorQuantizer::AddPixel(std::uint8_t red, std::uint8_t green, std::uint8_t blue)
{
    InsertColor(FRoot, red, green, blue, 0);
    while (FLeaves > FColorLimit)
        MergeDeepest();
}

bool TColorQuantizer::ScanBitmap(TDIB& reader)
{
    TBitmap& bitmap = reader.BitmapRef;
    if (bitmap.PixelFormat() != pf24bit)
        RaiseGIFError("Unsupported PixelFormat");
    const int width = bitmap.Width();
    for (int y = 0; y < bitmap.Height(); ++y) {
        const std::uint8_t* p = reader.RowAt(y);
        for (int x = 0; x < width; ++x, p += 3)
            AddPixel(p[2], p[1], p[0]);
    }
    return true;
}

void TColorQuantizer::CollectLeaves(const TOctreeNode* node, std::uint8_t* table, int& index)
{
    if (node->Leaf) {
        if (index >= 256)
            return;
        std::uint8_t* e = table + static_cast<std::size_t>(index) * 4;
        if (node->Pixels > 0) {
            e[0] = static_cast<std::uint8_t>(node->SumB / node->Pixels);
            e[1] = static_cast<std::uint8_t>(node->SumG / node->Pixels);
            e[2] = static_cast<std::uint8_t>(node->SumR / node->Pixels);
        } else {
            e[0] = e[1] = e[2] = 0;
        }
        e[3] = 0;
        ++index;
        return;
    }
    for (const TOctreeNode* child : node->Children)
        if (child)
            CollectLeaves(child, table, index);
}

int TColorQuantizer::ColorTable(std::uint8_t* table) const
{
    int index = 0;
    if (FRoot)
        CollectLeaves(FRoot, table, index);
    return index;
}

TPalette BuildOctreePalette(TDIB& reader, int colorCount, int depth, bool withSystemColors)
{
    if (colorCount < 1 || colorCount > 256)
        RaiseGIFError(InvalidColorCount);
    TPalette palette(static_cast<std::size_t>(colorCount));
    std::size_t offset = 0;
    if (withSystemColors) {
        const TPalette& stock = StockPalette20();
        palette.assign(256, TPaletteEntry{});
        std::copy_n(stock.begin(), 10, palette.begin());
        std::copy_n(stock.begin() + 10, 10, palette.begin() + 246);
        colorCount = 236;
        offset = 10;
    }
    std::array<std::uint8_t, 1024> table{};
    {
        TColorQuantizer quantizer(colorCount, depth);
        quantizer.ScanBitmap(reader);
        quantizer.ColorTable(table.data());
    }
    // Entries without a leaf keep the table's zeros: black.
    for (std::size_t i = 0; i < static_cast<std::size_t>(colorCount); ++i) {
        const std::uint8_t* e = table.data() + i * 4;
        palette[offset + i] = TPaletteEntry{e[2], e[1], e[0], e[3]};
    }
    return palette;
}

TPalette OctreePaletteOf(TBitmap& bitmap, int colorCount, int depth, bool withSystemColors)
{
    TDIBReader reader(bitmap, pf24bit);
    return BuildOctreePalette(reader, colorCount, depth, withSystemColors);
}

// ---------------------------------------------------------------------------
// Reduction

std::unique_ptr<TDitherEngine> MakeDitherer(std::uint8_t dither, int width, TColorLookup& lookup)
{
    switch (dither) {
    case dtNearest:
        return std::make_unique<TDitherEngine>(width, lookup);
    case dtFloydSteinberg:
        return std::make_unique<TFloydSteinbergDitherer>(width, lookup);
    case dtStucki:
        return std::make_unique<TStuckiDitherer>(width, lookup);
    case dtSierra:
        return std::make_unique<TSierraDitherer>(width, lookup);
    case dtJaJuNi:
        return std::make_unique<TJaJuNiDitherer>(width, lookup);
    case dtSteveArche:
        return std::make_unique<TSteveArcheDitherer>(width, lookup);
    case dtBurkes:
        return std::make_unique<TBurkesDitherer>(width, lookup);
    default:
        return nullptr;
    }
}

std::unique_ptr<TBitmap> ReduceToPalette(TBitmap& bitmap, std::uint8_t method, std::uint8_t dither,
                                         int reductionBits, const TPalette& customPalette)
{
    auto result = std::make_unique<TBitmap>();
    if (method == rdNone) {
        result->Assign(bitmap);
        result->SetPixelFormat(pf24bit);
        return result;
    }
    const int width = bitmap.Width();
    const int height = bitmap.Height();
    if (static_cast<std::int64_t>(width) * height > 500000)
        result->SetPixelFormat(pf1bit);
    TDIBReader reader(bitmap, pf24bit);
    if (method > rdCustomPalette)
        return result;

    TPalette palette;
    std::unique_ptr<TColorLookup> lookup;
    switch (method) {
    case rdSystem20:
        palette = StockPalette20();
        lookup = std::make_unique<TFastColorLookup>(palette);
        break;
    case rdHalftone:
        palette = ScreenHalftonePalette();
        lookup = std::make_unique<TFastColorLookup>(palette);
        break;
    case rdGray4:
        palette = Grey4Palette();
        lookup = std::make_unique<TFastColorLookup>(palette);
        break;
    case rdBlackWhite:
        palette = MonoPalette();
        lookup = std::make_unique<TMonochromeLookup>(palette);
        break;
    case rdGray256:
        palette = GreyRampPalette();
        lookup = std::make_unique<TGrayScaleLookup>(palette);
        break;
    case rdNetscape216:
        palette = WebPalette216();
        lookup = std::make_unique<TNetscapeColorLookup>(palette);
        break;
    case rdOctree:
        if (reductionBits < 0 || reductionBits > 8)
            RaiseGIFError("Invalid Bits Per Pixel value");
        palette = BuildOctreePalette(reader, 1 << reductionBits, 8, false);
        lookup = std::make_unique<TFastColorLookup>(palette);
        break;
    case rdOctreeSystem:
        palette = OctreePaletteOf(bitmap, 256, 8, true);
        lookup = std::make_unique<TFastColorLookup>(palette);
        break;
    default: // rdCustomPalette
        palette = customPalette;
        if (palette.size() > MaxPaletteEntries)
            palette.resize(MaxPaletteEntries);
        lookup = std::make_unique<TFastColorLookup>(palette);
        break;
    }
    if (lookup->ColorCount == 0)
        return result;
    std::unique_ptr<TDitherEngine> ditherer = MakeDitherer(dither, width, *lookup);
    if (!ditherer)
        return result;

    TDIBWriter writer(*result, pf8bit, width, height, palette);
    for (int y = 0; y < height; ++y) {
        const std::uint8_t* source = reader.RowAt(y);
        std::uint8_t* dest = writer.RowAt(y);
        std::uint8_t r, g, b;
        while (ditherer->Col >= 0 && ditherer->Col < width) {
            const int x = ditherer->Col;
            const std::uint8_t* p = source + static_cast<std::size_t>(x) * 3;
            dest[x] = ditherer->DitherPixel(p[2], p[1], p[0], r, g, b);
        }
        ditherer->NextRow();
    }
    writer.StoreIntoBitmap();
    return result;
}
