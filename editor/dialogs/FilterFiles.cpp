#include "FilterFiles.h"

#include "AtomicFile.h"
#include "Exceptions.h"
#include "Numeric.h"
#include "Streams.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cmath>
#include <filesystem>
#include <system_error>

namespace {

// No filter file needs more: a name line and 25 short numbers.
constexpr std::size_t MaxFilterBytes = 1 << 20;

// The largest magnitude whose nearest whole number fits 64 bits.
constexpr long double MaxWeight = 9.2e18L;

std::string ReadHead(const std::string& path)
{
    TFileStream file(path, fmOpenRead);
    std::string data(MaxFilterBytes, '\0');
    std::size_t got = 0;
    while (got < data.size()) {
        const std::size_t n = file.Read(data.data() + got, data.size() - got);
        if (n == 0)
            break;
        got += n;
    }
    data.resize(got);
    return data;
}

std::string Lower(std::string s)
{
    for (char& c : s)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

bool IsDigit(char c)
{
    return c >= '0' && c <= '9';
}

// An optional sign, digits with an optional "." and fraction (at least one
// digit in all), an optional exponent.
bool WellFormed(const std::string& s)
{
    std::size_t i = 0;
    const std::size_t n = s.size();
    if (i < n && (s[i] == '+' || s[i] == '-'))
        ++i;
    std::size_t digits = 0;
    while (i < n && IsDigit(s[i]))
        ++i, ++digits;
    if (i < n && s[i] == '.') {
        ++i;
        while (i < n && IsDigit(s[i]))
            ++i, ++digits;
    }
    if (digits == 0)
        return false;
    if (i < n && (s[i] == 'e' || s[i] == 'E')) {
        ++i;
        if (i < n && (s[i] == '+' || s[i] == '-'))
            ++i;
        std::size_t exponent = 0;
        while (i < n && IsDigit(s[i]))
            ++i, ++exponent;
        if (exponent == 0)
            return false;
    }
    return i == n;
}

} // namespace

bool IsGridChar(char c)
{
    return IsDigit(c) || c == '+' || c == '-' || c == '.';
}

bool IsGridText(const std::string& text)
{
    return std::all_of(text.begin(), text.end(), IsGridChar);
}

float ParseWeight(const std::string& text, bool* ok)
{
    const auto blank = [](char c) { return c == ' ' || c == '\t'; };
    std::size_t first = 0, last = text.size();
    while (first < last && blank(text[first]))
        ++first;
    while (last > first && blank(text[last - 1]))
        --last;
    const std::string s = text.substr(first, last - first);
    if (ok)
        *ok = true;
    if (s.empty())
        return 0;
    bool good = WellFormed(s);
    long double value = 0;
    if (good) {
        // from_chars reads the C locale's form whatever the user's locale;
        // it takes no "+".
        const char* begin = s.data() + (s[0] == '+' ? 1 : 0);
        const char* end = s.data() + s.size();
        const auto result = std::from_chars(begin, end, value, std::chars_format::general);
        good = result.ec == std::errc() && result.ptr == end;
    }
    float weight = good ? StoreSingle(value) : 0.0f;
    if (good && !(std::fabs(static_cast<long double>(weight)) < MaxWeight))
        good = false;
    if (!good) {
        if (ok)
            *ok = false;
        return 0;
    }
    return weight;
}

TGridCells KernelToCells(const TKernel5x5& kernel)
{
    TGridCells cells;
    for (int r = 0; r < 5; ++r)
        for (int c = 0; c < 5; ++c) {
            const float w = kernel.At(c - 2, r - 2);
            // Weights come from ParseWeight, but a kernel may come from
            // elsewhere: what has no whole number shows as 0.
            const bool showable = std::isfinite(w) && std::fabs(static_cast<long double>(w)) < MaxWeight;
            cells[static_cast<std::size_t>(r)][static_cast<std::size_t>(c)] =
                std::to_string(showable ? Round(w) : 0);
        }
    return cells;
}

TKernel5x5 CellsToKernel(const TGridCells& cells)
{
    TKernel5x5 kernel;
    for (int r = 0; r < 5; ++r)
        for (int c = 0; c < 5; ++c)
            kernel.At(c - 2, r - 2) = ParseWeight(cells[static_cast<std::size_t>(r)][static_cast<std::size_t>(c)]);
    return kernel;
}

std::vector<std::string> SplitLines(const std::string& text, std::size_t maxLines)
{
    std::vector<std::string> lines;
    std::size_t start = 0;
    const std::size_t n = text.size();
    while (start < n && lines.size() < maxLines) {
        std::size_t end = start;
        while (end < n && text[end] != '\r' && text[end] != '\n')
            ++end;
        lines.push_back(text.substr(start, end - start));
        if (end < n && text[end] == '\r' && end + 1 < n && text[end + 1] == '\n')
            end += 2;
        else if (end < n)
            end += 1;
        start = end;
    }
    return lines;
}

TFilterFile ReadFilterFile(const std::string& path)
{
    const std::vector<std::string> lines = SplitLines(ReadHead(path), 26);
    TFilterFile filter;
    if (!lines.empty())
        filter.Name = lines[0];
    filter.WeightLines = static_cast<int>(lines.size()) - (lines.empty() ? 0 : 1);
    for (int r = -2; r <= 2; ++r)
        for (int c = -2; c <= 2; ++c) {
            const std::size_t line = 1 + static_cast<std::size_t>(5 * (r + 2) + (c + 2));
            bool ok = true;
            filter.Kernel.At(c, r) = line < lines.size() ? ParseWeight(lines[line], &ok) : 0.0f;
            if (!ok)
                ++filter.Malformed;
        }
    return filter;
}

std::string ReadFilterName(const std::string& path)
{
    const std::vector<std::string> lines = SplitLines(ReadHead(path), 1);
    return lines.empty() ? std::string() : lines[0];
}

void WriteFilterFile(const std::string& path, const std::string& name, const TGridCells& cells)
{
    std::string text = name;
    std::replace(text.begin(), text.end(), '\r', ' ');
    std::replace(text.begin(), text.end(), '\n', ' ');
    text += "\r\n";
    for (const auto& row : cells)
        for (const std::string& cell : row)
            text += cell + "\r\n";
    AtomicWriteFile(path, [&text](TStream& stream) { stream.WriteBuffer(text.data(), text.size()); });
}

void ListFilters(const std::string& folder, std::vector<TFilterEntry>& entries)
{
    namespace fs = std::filesystem;
    std::vector<std::string> names;
    std::error_code error;
    fs::directory_iterator it(folder, error);
    if (error)
        return;
    for (const fs::directory_iterator end; it != end; it.increment(error)) {
        if (error)
            break;
        const fs::path name = it->path().filename();
        if (Lower(name.extension().string()) != ".fpw")
            continue;
        // Folders and special files (a pipe would wait for ever) are no
        // filters; a link that leads nowhere is listed, and reading it tells why.
        std::error_code typeError;
        const fs::file_status status = it->status(typeError);
        if (!fs::is_directory(status) && !fs::is_other(status))
            names.push_back(name.string());
    }
    std::sort(names.begin(), names.end(), [](const std::string& a, const std::string& b) {
        const std::string la = Lower(a), lb = Lower(b);
        return la != lb ? la < lb : a < b;
    });
    std::string base = folder;
    if (!base.empty() && base.back() != '/')
        base += '/';
    for (const std::string& name : names) {
        const std::string path = base + name;
        entries.push_back(TFilterEntry{ReadFilterName(path), path});
    }
}

std::string FilterFileName(const std::string& path)
{
    std::filesystem::path p(path);
    if (Lower(p.extension().string()) == ".fpw")
        return path;
    p.replace_extension(".fpw");
    return p.string();
}
