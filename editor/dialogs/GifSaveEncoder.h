#pragma once
// The GIF tab's encoder: a GIF picture made from a 24-bit picture, its
// colours reduced by octree to at most 256 (16 on request) with
// Floyd-Steinberg dithering.

#include <memory>

class TBitmap;
class TGraphic;

// Whether this build writes GIF files.
bool GifEncoderAvailable();
// The GIF picture of the bitmap; raises when GIF writing is not available.
std::unique_ptr<TGraphic> MakeGifEncoder(const TBitmap& picture, bool sixteenColours);
