#pragma once
// Custom filter files: "*.fpw" text files in the folder "filtres" below the
// program's start folder. Line 1 is the filter's name as the list shows it;
// lines 2 to 26 are the 25 weights of the 5 x 5 kernel, row by row from the
// top, each row from the left, each as it was typed in the grid. Lines end
// in CR LF when written; CR LF, LF and CR are all read as line ends.
//
// Numbers are read the same whatever the user's locale: an optional sign,
// digits with an optional "." and fraction, an optional exponent. Empty
// text is 0; text that is no such number, or whose value is infinite or too
// large to show as a whole number, is 0 too and counts as malformed.

#include "photo.h"

#include <array>
#include <string>
#include <vector>

// The cells of the weight grid: Cells[row][column], row 0 the top.
using TGridCells = std::array<std::array<std::string, 5>, 5>;

// The characters the weight grid accepts (besides backspace, which edits).
bool IsGridChar(char c);
// Whether every character of a text is one the grid accepts.
bool IsGridText(const std::string& text);

// A weight's text as a single-precision value. ok (when given) tells
// whether the text was empty or a well-formed finite number.
float ParseWeight(const std::string& text, bool* ok = nullptr);

// The kernel's weights as the grid shows them: each rounded to the nearest
// whole number, halves to the even neighbour.
TGridCells KernelToCells(const TKernel5x5& kernel);
// The grid's texts as a kernel.
TKernel5x5 CellsToKernel(const TGridCells& cells);

// A filter file as read.
struct TFilterFile {
    std::string Name;
    TKernel5x5 Kernel;
    // Weight lines present in the file (25 when complete).
    int WeightLines = 0;
    // Weight lines whose text was no number (counted as 0).
    int Malformed = 0;
};

// The lines of a text, CR LF, LF or CR ending each; a last line without an
// end counts; no more than maxLines are taken.
std::vector<std::string> SplitLines(const std::string& text, std::size_t maxLines);

// Reads a filter file; missing weight lines are 0. Raises EFOpenError when
// the file can not be opened.
TFilterFile ReadFilterFile(const std::string& path);
// The name line of a filter file (its first line). Raises EFOpenError.
std::string ReadFilterName(const std::string& path);
// Writes a filter file atomically: the name (line breaks in it turned into
// blanks), then the cells row by row, each line ended by CR LF.
void WriteFilterFile(const std::string& path, const std::string& name, const TGridCells& cells);

// One listed filter: its name line and the full path of its file.
struct TFilterEntry {
    std::string Name;
    std::string Path;
};

// Appends the "*.fpw" files of a folder (extension in any case; folders
// and special files are none), in file-name order without regard to case,
// each with its name line. A missing folder gives nothing. A listed file
// that can not be read stops the listing: EFOpenError names it, and the
// entries appended before it stay.
void ListFilters(const std::string& folder, std::vector<TFilterEntry>& entries);

// The extension rule of a new filter file: a path whose extension is not
// ".fpw" (in any case) gets ".fpw" in place of its extension.
std::string FilterFileName(const std::string& path);
