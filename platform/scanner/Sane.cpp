#include "Sane.h"

#include <sane/saneopts.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstring>
#include <limits>
#include <thread>

namespace {

// The most bytes a page may keep: the pixel budget at the largest sample
// size SANE delivers (three 16-bit samples).
std::size_t ByteBudget()
{
    const std::size_t pixels = PixelBudget();
    return pixels > std::numeric_limits<std::size_t>::max() / 6 ? std::numeric_limits<std::size_t>::max()
                                                                  : pixels * 6;
}

int Channels(SANE_Frame format)
{
    return format == SANE_FRAME_RGB ? 3 : 1;
}

bool SingleColour(SANE_Frame format)
{
    return format == SANE_FRAME_RED || format == SANE_FRAME_GREEN || format == SANE_FRAME_BLUE;
}

// The byte that stands for white in a frame: line art marks black with 1.
std::uint8_t WhiteByte(const TFrameParameters& p)
{
    return p.Depth == 1 && p.Format == SANE_FRAME_GRAY ? 0x00 : 0xFF;
}

// Sample i of a row as 8 bits: 16-bit samples (machine order) give their
// high byte, a 1-bit sample full or no intensity.
std::uint8_t Sample8(const std::uint8_t* row, std::size_t i, int depth)
{
    switch (depth) {
    case 1:
        return (row[i >> 3] >> (7 - (i & 7))) & 1 ? 0xFF : 0x00;
    case 16: {
        std::uint16_t v;
        std::memcpy(&v, row + i * 2, 2);
        return static_cast<std::uint8_t>(v >> 8);
    }
    default:
        return row[i];
    }
}

std::string Quoted(const std::string& device)
{
    return "\u00AB " + device + " \u00BB";
}

std::string Copy(const char* text)
{
    return text ? std::string(text) : std::string();
}

} // namespace

std::string SaneStatusText(SANE_Status status)
{
    return Copy(sane_strstatus(status));
}

std::string TScannerDevice::DisplayName() const
{
    std::string text = Vendor;
    if (!Model.empty())
        text += (text.empty() ? "" : " ") + Model;
    return text.empty() ? Name : text + " (" + Name + ")";
}

// ---------------------------------------------------------------------------
// The library

TSaneSession::TSaneSession()
{
    SANE_Int version = 0;
    const SANE_Status status = sane_init(&version, nullptr);
    if (status != SANE_STATUS_GOOD)
        throw ESaneError("", status, "L'interface des scanneurs (SANE) n'a pas pu d\u00E9marrer : " +
                                         SaneStatusText(status));
}

TSaneSession::~TSaneSession()
{
    sane_exit();
}

std::vector<TScannerDevice> TSaneSession::Devices()
{
    const SANE_Device** list = nullptr;
    const SANE_Status status = sane_get_devices(&list, SANE_FALSE);
    if (status != SANE_STATUS_GOOD)
        throw ESaneError("", status, "La liste des scanneurs n'a pas pu \u00EAtre lue : " + SaneStatusText(status));
    std::vector<TScannerDevice> devices;
    for (std::size_t i = 0; list && list[i]; ++i)
        devices.push_back({Copy(list[i]->name), Copy(list[i]->vendor), Copy(list[i]->model), Copy(list[i]->type)});
    return devices;
}

bool TScanOption::IsScalar() const
{
    return (Type == SANE_TYPE_INT || Type == SANE_TYPE_FIXED || Type == SANE_TYPE_BOOL) &&
           Size == static_cast<int>(sizeof(SANE_Word));
}

// ---------------------------------------------------------------------------
// Pages

TPageAssembler::TPageAssembler(std::string device) : FDevice(std::move(device))
{
}

void TPageAssembler::Fail(const std::string& message) const
{
    throw ESaneError(FDevice, SANE_STATUS_IO_ERROR, "Le scanneur " + Quoted(FDevice) + " " + message);
}

void TPageAssembler::BeginFrame(const TFrameParameters& p)
{
    if (p.Format != SANE_FRAME_GRAY && p.Format != SANE_FRAME_RGB && !SingleColour(p.Format))
        Fail("envoie une image d'un format inconnu.");
    if (p.Depth != 1 && p.Depth != 8 && p.Depth != 16)
        Fail("envoie des \u00E9chantillons de " + std::to_string(p.Depth) + " bits, non pris en charge.");
    if (p.PixelsPerLine <= 0 || p.Lines < -1 || p.BytesPerLine <= 0)
        Fail("annonce une taille de page impossible.");
    // The pixels a line needs must fit its bytes; more bytes are skipped.
    const long long bits = p.PixelsPerLine * Channels(p.Format) * p.Depth;
    if (p.PixelsPerLine > (std::numeric_limits<int>::max() / 48) || p.BytesPerLine < (bits + 7) / 8)
        Fail("annonce des lignes plus courtes que leurs pixels.");
    if (p.Lines >= 0)
        CheckPixelBudget(p.PixelsPerLine, p.Lines);
    else
        CheckPixelBudget(p.PixelsPerLine, 1);
    if (static_cast<unsigned long long>(p.BytesPerLine) > ByteBudget())
        Fail("annonce des lignes trop longues.");

    int plane = 0;
    if (SingleColour(p.Format)) {
        plane = p.Format == SANE_FRAME_RED ? 0 : p.Format == SANE_FRAME_GREEN ? 1 : 2;
        for (const TPlane& other : FPlanes)
            if (other.Present && (!SingleColour(other.Parameters.Format) ||
                                  other.Parameters.PixelsPerLine != p.PixelsPerLine ||
                                  other.Parameters.Depth != p.Depth))
                Fail("change la forme de la page entre deux passages.");
    } else if (FPlanes[0].Present || FPlanes[1].Present || FPlanes[2].Present) {
        Fail("envoie plusieurs images pour une page.");
    }
    if (FPlanes[plane].Present)
        Fail("envoie deux fois la m\u00EAme couleur.");

    TPlane& target = FPlanes[plane];
    target.Parameters = p;
    target.Bytes.clear();
    target.Received = 0;
    target.Present = true;
    FCurrent = plane;
    FReceived = 0;
    if (p.Lines >= 0) {
        const unsigned long long total = static_cast<unsigned long long>(p.BytesPerLine) * p.Lines;
        if (total > ByteBudget())
            Fail("annonce une page trop grande.");
        FLimit = static_cast<std::size_t>(total);
        try {
            target.Bytes.reserve(FLimit);
        } catch (const std::bad_alloc&) {
            OutOfMemoryError();
        }
    } else {
        FLimit = ByteBudget();
    }
}

TPageAssembler::TPlane* TPageAssembler::Current()
{
    return FCurrent >= 0 ? &FPlanes[FCurrent] : nullptr;
}

void TPageAssembler::Add(const std::uint8_t* data, std::size_t count)
{
    TPlane* plane = Current();
    if (!plane || count == 0)
        return;
    FReceived += count;
    plane->Received += count;
    // Bytes past the announced end are dropped.
    const std::size_t room = FLimit - plane->Bytes.size();
    const std::size_t kept = std::min(count, room);
    if (plane->Parameters.Lines < 0 && kept > 0) {
        // A page of unknown height grows line by line, within the budget.
        const std::size_t bpl = static_cast<std::size_t>(plane->Parameters.BytesPerLine);
        const std::size_t lines = (plane->Bytes.size() + kept + bpl - 1) / bpl;
        CheckPixelBudget(plane->Parameters.PixelsPerLine, static_cast<std::int64_t>(lines));
    }
    try {
        plane->Bytes.insert(plane->Bytes.end(), data, data + kept);
    } catch (const std::bad_alloc&) {
        OutOfMemoryError();
    }
}

long long TPageAssembler::LinesReceived() const
{
    if (FCurrent < 0)
        return 0;
    const TPlane& plane = FPlanes[FCurrent];
    const std::size_t bpl = static_cast<std::size_t>(plane.Parameters.BytesPerLine);
    return static_cast<long long>((plane.Bytes.size() + bpl - 1) / bpl);
}

void TPageAssembler::EndFrame()
{
    TPlane* plane = Current();
    if (!plane)
        return;
    TFrameParameters& p = plane->Parameters;
    const std::size_t bpl = static_cast<std::size_t>(p.BytesPerLine);
    if (p.Lines < 0)
        p.Lines = static_cast<long long>((plane->Bytes.size() + bpl - 1) / bpl);
    // Missing lines, or the rest of a begun one, are white.
    plane->Bytes.resize(bpl * static_cast<std::size_t>(p.Lines), WhiteByte(p));
    FCurrent = -1;
}

std::unique_ptr<TBitmap> TPageAssembler::Result() const
{
    const TPlane& first = FPlanes[0].Present ? FPlanes[0] : FPlanes[1].Present ? FPlanes[1] : FPlanes[2];
    if (!first.Present)
        Fail("n'a envoy\u00E9 aucune image.");
    const TFrameParameters& p = first.Parameters;
    const bool separate = SingleColour(p.Format);
    long long height = 0;
    for (const TPlane& plane : FPlanes) {
        if (plane.Present && plane.Received == 0)
            Fail("n'a envoy\u00E9 aucune image.");
        if (plane.Present)
            height = std::max(height, plane.Parameters.Lines);
        else if (separate)
            Fail("n'a pas envoy\u00E9 les trois couleurs de la page.");
    }
    if (height <= 0)
        Fail("n'a envoy\u00E9 aucune image.");
    const int width = static_cast<int>(p.PixelsPerLine);
    CheckPixelBudget(width, height);
    const int h = static_cast<int>(height);

    std::unique_ptr<TBitmap> bitmap;
    if (p.Format == SANE_FRAME_GRAY && p.Depth == 1) {
        // Line art: SANE marks black with 1, the bitmap's palette has black at 0.
        bitmap = std::make_unique<TBitmap>(width, h, pf1bit);
        bitmap->SetPalette(MonoPalette2());
        const std::size_t rowBytes = (static_cast<std::size_t>(width) + 7) / 8;
        for (int y = 0; y < h; ++y) {
            const std::uint8_t* src = first.Bytes.data() + static_cast<std::size_t>(y) * p.BytesPerLine;
            std::uint8_t* dst = bitmap->ScanLine(y);
            for (std::size_t i = 0; i < rowBytes; ++i)
                dst[i] = static_cast<std::uint8_t>(~src[i]);
        }
    } else if (p.Format == SANE_FRAME_GRAY) {
        bitmap = std::make_unique<TBitmap>(width, h, pf8bit);
        TPalette grey(256);
        for (int i = 0; i < 256; ++i)
            grey[i].peRed = grey[i].peGreen = grey[i].peBlue = static_cast<std::uint8_t>(i);
        bitmap->SetPalette(grey);
        for (int y = 0; y < h; ++y) {
            const std::uint8_t* src = first.Bytes.data() + static_cast<std::size_t>(y) * p.BytesPerLine;
            std::uint8_t* dst = bitmap->ScanLine(y);
            for (int x = 0; x < width; ++x)
                dst[x] = Sample8(src, static_cast<std::size_t>(x), p.Depth);
        }
    } else {
        bitmap = std::make_unique<TBitmap>(width, h, pf24bit);
        for (int y = 0; y < h; ++y) {
            std::uint8_t* dst = bitmap->ScanLine(y);
            for (int c = 0; c < 3; ++c) {
                // The bitmap keeps blue, green, red.
                const TPlane& plane = separate ? FPlanes[c] : first;
                const std::size_t lines = static_cast<std::size_t>(plane.Parameters.Lines);
                // Each frame keeps its own line length.
                const std::size_t bpl = static_cast<std::size_t>(plane.Parameters.BytesPerLine);
                const std::uint8_t* src =
                    static_cast<std::size_t>(y) < lines ? plane.Bytes.data() + static_cast<std::size_t>(y) * bpl : nullptr;
                for (int x = 0; x < width; ++x) {
                    const std::size_t i = separate ? static_cast<std::size_t>(x) : static_cast<std::size_t>(x) * 3 + c;
                    dst[static_cast<std::size_t>(x) * 3 + (2 - c)] = src ? Sample8(src, i, p.Depth) : 0xFF;
                }
            }
        }
    }
    return bitmap;
}

// ---------------------------------------------------------------------------
// Devices

TSaneDevice::TSaneDevice(const std::string& name) : FName(name)
{
    const SANE_Status status = sane_open(name.c_str(), &FHandle);
    if (status != SANE_STATUS_GOOD) {
        FHandle = nullptr;
        throw ESaneError(name, status,
                         "Le scanneur " + Quoted(name) + " n'a pas pu \u00EAtre ouvert : " + SaneStatusText(status));
    }
}

TSaneDevice::~TSaneDevice()
{
    if (FHandle)
        sane_close(FHandle);
}

void TSaneDevice::Fail(const std::string& what, SANE_Status status) const
{
    throw ESaneError(FName, status, "Le scanneur " + Quoted(FName) + " " + what + " : " + SaneStatusText(status));
}

std::vector<TScanOption> TSaneDevice::Options() const
{
    std::vector<TScanOption> options;
    for (SANE_Int i = 1;; ++i) {
        const SANE_Option_Descriptor* d = sane_get_option_descriptor(FHandle, i);
        if (!d)
            break;
        TScanOption o;
        o.Index = i;
        o.Name = Copy(d->name);
        o.Title = Copy(d->title);
        o.Description = Copy(d->desc);
        o.Type = d->type;
        o.Unit = d->unit;
        o.Size = d->size;
        o.Capabilities = d->cap;
        const bool fixed = d->type == SANE_TYPE_FIXED;
        auto number = [fixed](SANE_Word w) { return fixed ? SANE_UNFIX(w) : static_cast<double>(w); };
        switch (d->constraint_type) {
        case SANE_CONSTRAINT_RANGE:
            if (d->constraint.range) {
                o.Constraint = TScanOption::TConstraint::Range;
                o.Min = number(d->constraint.range->min);
                o.Max = number(d->constraint.range->max);
                o.Quant = number(d->constraint.range->quant);
            }
            break;
        case SANE_CONSTRAINT_WORD_LIST:
            if (d->constraint.word_list) {
                o.Constraint = TScanOption::TConstraint::WordList;
                // The first word is the count of those after it.
                const SANE_Word count = std::clamp<SANE_Word>(d->constraint.word_list[0], 0, 4096);
                for (SANE_Word k = 1; k <= count; ++k)
                    o.Words.push_back(number(d->constraint.word_list[k]));
            }
            break;
        case SANE_CONSTRAINT_STRING_LIST:
            if (d->constraint.string_list) {
                o.Constraint = TScanOption::TConstraint::StringList;
                for (std::size_t k = 0; d->constraint.string_list[k] && k < 4096; ++k)
                    o.Strings.push_back(d->constraint.string_list[k]);
            }
            break;
        default:
            break;
        }
        options.push_back(std::move(o));
    }
    return options;
}

std::unique_ptr<TScanOption> TSaneDevice::Find(const std::string& name) const
{
    for (TScanOption& o : Options())
        if (o.Name == name)
            return std::make_unique<TScanOption>(std::move(o));
    return nullptr;
}

void TSaneDevice::Control(const TScanOption& option, SANE_Action action, void* value, SANE_Int* info) const
{
    // After a change that reloads the options the backend wants them read
    // again before any other is touched.
    sane_get_option_descriptor(FHandle, option.Index);
    const SANE_Status status = sane_control_option(FHandle, option.Index, action, value, info);
    if (status != SANE_STATUS_GOOD)
        Fail(std::string(action == SANE_ACTION_GET_VALUE ? "ne donne pas" : "refuse") + " la valeur de l'option " +
                 Quoted(option.Title.empty() ? option.Name : option.Title),
             status);
}

double TSaneDevice::GetNumber(const TScanOption& option) const
{
    if (!option.IsScalar())
        Fail("n'a pas de valeur num\u00E9rique pour l'option " + Quoted(option.Name), SANE_STATUS_INVAL);
    SANE_Word word = 0;
    Control(option, SANE_ACTION_GET_VALUE, &word, nullptr);
    return option.Type == SANE_TYPE_FIXED ? SANE_UNFIX(word) : static_cast<double>(word);
}

std::string TSaneDevice::GetString(const TScanOption& option) const
{
    if (option.Type != SANE_TYPE_STRING || option.Size <= 0)
        Fail("n'a pas de texte pour l'option " + Quoted(option.Name), SANE_STATUS_INVAL);
    std::vector<char> text(static_cast<std::size_t>(option.Size) + 1, '\0');
    Control(option, SANE_ACTION_GET_VALUE, text.data(), nullptr);
    text.back() = '\0';
    return text.data();
}

void TSaneDevice::SetNumber(const TScanOption& option, double value)
{
    if (!option.IsScalar())
        Fail("n'a pas de valeur num\u00E9rique pour l'option " + Quoted(option.Name), SANE_STATUS_INVAL);
    SANE_Word word;
    if (option.Type == SANE_TYPE_FIXED)
        word = SANE_FIX(std::clamp(value, -32768.0, 32767.0));
    else if (option.Type == SANE_TYPE_BOOL)
        word = value != 0 ? SANE_TRUE : SANE_FALSE;
    else
        word = static_cast<SANE_Word>(std::lround(std::clamp(value, -2147483648.0, 2147483647.0)));
    Control(option, SANE_ACTION_SET_VALUE, &word, nullptr);
}

void TSaneDevice::SetString(const TScanOption& option, const std::string& value)
{
    if (option.Type != SANE_TYPE_STRING || option.Size <= 0)
        Fail("n'a pas de texte pour l'option " + Quoted(option.Name), SANE_STATUS_INVAL);
    // The backend reads Size bytes: a longer text is cut to fit.
    std::vector<char> text(static_cast<std::size_t>(option.Size), '\0');
    std::memcpy(text.data(), value.data(), std::min(value.size(), text.size() - 1));
    Control(option, SANE_ACTION_SET_VALUE, text.data(), nullptr);
}

bool TSaneDevice::AskForColour()
{
    const std::unique_ptr<TScanOption> mode = Find(SANE_NAME_SCAN_MODE);
    if (!mode || !mode->Active() || !mode->Settable() || mode->Type != SANE_TYPE_STRING)
        return false;
    const std::string colour = SANE_VALUE_SCAN_MODE_COLOR;
    if (std::find(mode->Strings.begin(), mode->Strings.end(), colour) == mode->Strings.end())
        return false;
    try {
        SetString(*mode, colour);
    } catch (const ESaneError&) {
        return false;
    }
    return true;
}

void TSaneDevice::Set(const std::string& name, const std::string& value)
{
    const std::unique_ptr<TScanOption> option = Find(name);
    if (!option)
        Fail("n'a pas d'option " + Quoted(name), SANE_STATUS_UNSUPPORTED);
    if (!option->Active() || !option->Settable())
        Fail("ne permet pas de changer l'option " + Quoted(name), SANE_STATUS_INVAL);
    switch (option->Type) {
    case SANE_TYPE_STRING:
        SetString(*option, value);
        break;
    case SANE_TYPE_BOOL:
        SetNumber(*option, value == "true" || value == "yes" || value == "1" ? 1 : 0);
        break;
    case SANE_TYPE_INT:
    case SANE_TYPE_FIXED: {
        char* end = nullptr;
        const double number = std::strtod(value.c_str(), &end);
        if (value.empty() || !end || *end != '\0' || !std::isfinite(number))
            Fail("refuse la valeur " + Quoted(value) + " de l'option " + Quoted(name), SANE_STATUS_INVAL);
        SetNumber(*option, number);
        break;
    }
    case SANE_TYPE_BUTTON:
        Control(*option, SANE_ACTION_SET_VALUE, nullptr, nullptr);
        break;
    default:
        Fail("ne permet pas de changer l'option " + Quoted(name), SANE_STATUS_INVAL);
    }
}

namespace {

// Ends the scan however the reading stops.
class TScanGuard {
public:
    explicit TScanGuard(SANE_Handle handle) : FHandle(handle) {}
    ~TScanGuard() { sane_cancel(FHandle); }
    TScanGuard(const TScanGuard&) = delete;
    TScanGuard& operator=(const TScanGuard&) = delete;

private:
    SANE_Handle FHandle;
};

} // namespace

std::unique_ptr<TBitmap> TSaneDevice::Scan(const TScanProgress& progress)
{
    TScanGuard guard(FHandle);
    TPageAssembler page(FName);
    std::vector<std::uint8_t> buffer(64 * 1024);
    const char* const reportError = "signale une erreur";
    for (int frame = 0;; ++frame) {
        SANE_Status status = sane_start(FHandle);
        if (status == SANE_STATUS_CANCELLED)
            return nullptr;
        if (status != SANE_STATUS_GOOD)
            Fail(reportError, status);
        SANE_Parameters sp{};
        status = sane_get_parameters(FHandle, &sp);
        if (status != SANE_STATUS_GOOD)
            Fail(reportError, status);
        const TFrameParameters p{sp.format, sp.last_frame != SANE_FALSE, sp.bytes_per_line, sp.pixels_per_line,
                                 sp.lines, sp.depth};
        page.BeginFrame(p);
        const int frames = SingleColour(p.Format) ? 3 : 1;
        const double expected = p.Lines > 0 ? static_cast<double>(p.BytesPerLine) * p.Lines : 0;
        auto report = [&] {
            if (!progress)
                return true;
            if (expected <= 0)
                return progress(-1);
            return progress((frame + std::min(1.0, page.BytesReceived() / expected)) / frames);
        };
        if (!report())
            return nullptr;
        for (;;) {
            SANE_Int length = 0;
            status = sane_read(FHandle, buffer.data(), static_cast<SANE_Int>(buffer.size()), &length);
            if (status == SANE_STATUS_EOF)
                break;
            if (status == SANE_STATUS_CANCELLED)
                return nullptr;
            if (status != SANE_STATUS_GOOD)
                Fail(reportError, status);
            if (length < 0 || static_cast<std::size_t>(length) > buffer.size())
                Fail(reportError, SANE_STATUS_IO_ERROR);
            page.Add(buffer.data(), static_cast<std::size_t>(length));
            if (!report())
                return nullptr;
        }
        page.EndFrame();
        if (p.LastFrame || frame >= 2)
            break;
    }
    // Backends that read on a thread of their own end it once the data is
    // out; a short pause lets it end before the cancel below, which some
    // backends answer by stopping that thread wherever it is.
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    return page.Result();
}
