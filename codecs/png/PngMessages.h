#pragma once
// The English messages of the PNG codec, one per error, and the texts of the
// zlib result codes shown after a decompression error.

#include <string>

namespace PngMessages {

extern const char* const EPNGInvalidFileHeaderText;
extern const char* const EPngUnexpectedEndText;
extern const char* const EPNGIHDRNotFirstText;
extern const char* const EPNGUnknownCriticalChunkText;
extern const char* const EPNGNoImageDataText;
extern const char* const EPngInvalidCRCText;
extern const char* const EPngInvalidIHDRText;
extern const char* const EPNGSizeExceedsText;
extern const char* const EPNGUnknownCompressionText;
extern const char* const EPNGUnknownInterlaceText;
extern const char* const EPNGInvalidPaletteText;
extern const char* const EPNGMissingMultipleIDATText;
extern const char* const EPNGZLIBErrorText;
extern const char* const EPngErrorAssignText;
extern const char* const EPngErrorPaletteText;
extern const char* const EPngErrorResizeText;
extern const char* const EPNGOutMemoryText;
extern const char* const EPNGHeaderNotPresentText;
// Our own additions: a deflate failure while saving and an image of zero
// width or height given to the writer.
extern const char* const EPngCompressText;
extern const char* const EPngEmptySaveText;

// "data error (-3)" and the like for the zlib results -6..2; other codes get
// their number in brackets.
std::string ZlibResultText(int code);

} // namespace PngMessages
