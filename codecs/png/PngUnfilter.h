#pragma once
// The Paeth filter of rows of 3- and 4-byte pixels undone with vector
// instructions, the channels of a pixel side by side, where the processor has
// them. (The other filters' plain code is as fast.)

#include <cstddef>
#include <cstdint>

namespace pngimpl {

// Undoes filter type on the n bytes of row (above: the unfiltered row above).
// Answers false, having done nothing, for other filters or pixel sizes, on a
// processor without SSE4.1, or when switched off: the plain code does it.
bool UnfilterRowVector(int type, std::uint8_t* row, const std::uint8_t* above, std::size_t n, std::size_t stride);

// Off, every row goes through the plain code, for tests that compare the two.
void SetVectorUnfilter(bool enabled);

} // namespace pngimpl
