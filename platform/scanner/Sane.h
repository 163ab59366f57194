#pragma once
// Scanning over SANE, the scanner interface of Linux, without any window:
// the list of devices, one open device with its option descriptors, and the
// reading of one page (every frame of it) into a new TBitmap.
//
// Every resource taken here is given back by a destructor: the library by
// TSaneSession, a device by TSaneDevice, a running scan by the reading loop
// itself, also when it raises or is cancelled.

#include "Bitmap.h"
#include "Exceptions.h"

#include <sane/sane.h>

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

// An error of a scanner: its message is the French text shown to the user,
// naming the device and giving SANE's own text. A cancel is no error and
// never raises this.
class ESaneError : public Exception {
public:
    ESaneError(std::string device, SANE_Status status, std::string message)
        : Exception(std::move(message)), Device(std::move(device)), Status(status)
    {
    }
    const char* ClassName() const noexcept override { return "ESaneError"; }
    std::string Device;
    SANE_Status Status;
};

// SANE's text for a status.
std::string SaneStatusText(SANE_Status status);

// One scanner as sane_get_devices describes it.
struct TScannerDevice {
    std::string Name;   // what sane_open takes, "test:0"
    std::string Vendor;
    std::string Model;
    std::string Type;
    // "Vendor Model (name)", as the device list shows it.
    std::string DisplayName() const;
};

// The library, from sane_init to sane_exit. One session at a time.
class TSaneSession {
public:
    TSaneSession();
    ~TSaneSession();
    TSaneSession(const TSaneSession&) = delete;
    TSaneSession& operator=(const TSaneSession&) = delete;

    // Every device the backends find (a copy: it outlives the next call).
    std::vector<TScannerDevice> Devices();
};

// One option of a device, copied from its descriptor.
struct TScanOption {
    enum class TConstraint { None, Range, WordList, StringList };
    int Index = 0;
    std::string Name;  // "mode", "resolution", "tl-x"...; empty for groups
    std::string Title;
    std::string Description;
    SANE_Value_Type Type = SANE_TYPE_INT;
    SANE_Unit Unit = SANE_UNIT_NONE;
    int Size = 0;      // bytes of the value
    int Capabilities = 0;
    TConstraint Constraint = TConstraint::None;
    double Min = 0, Max = 0, Quant = 0;  // Range, as numbers (fixed unfixed)
    std::vector<double> Words;           // WordList, as numbers
    std::vector<std::string> Strings;    // StringList

    bool Active() const { return SANE_OPTION_IS_ACTIVE(Capabilities); }
    bool Settable() const { return SANE_OPTION_IS_SETTABLE(Capabilities); }
    bool IsGroup() const { return Type == SANE_TYPE_GROUP; }
    // Holds one number or one word (not an array, not a button).
    bool IsScalar() const;
};

// The shape of one frame, from sane_get_parameters.
struct TFrameParameters {
    SANE_Frame Format = SANE_FRAME_GRAY;
    bool LastFrame = true;
    long long BytesPerLine = 0;
    long long PixelsPerLine = 0;
    long long Lines = 0;  // -1: not known before the end of the data
    int Depth = 8;
};

// Builds one page from the bytes of its frames: grey (1, 8 or 16 bits),
// interleaved colour, or three frames of one colour each. Sizes are checked
// against the pixel budget before anything is kept; a frame that delivers
// more lines than it announced is cut, one that delivers fewer is padded
// with white; a page of unknown height grows until its data ends.
class TPageAssembler {
public:
    explicit TPageAssembler(std::string device = std::string());
    // Raises ESaneError for parameters no page can be built from.
    void BeginFrame(const TFrameParameters& parameters);
    void Add(const std::uint8_t* data, std::size_t count);
    void EndFrame();
    // The lines of the current frame received so far (whole or begun).
    long long LinesReceived() const;
    std::size_t BytesReceived() const { return FReceived; }
    // The page: 24-bit for colour, 8-bit with a grey palette for grey,
    // 1-bit (black 0, white 1) for line art. Raises ESaneError when no
    // data came or a colour frame is missing.
    std::unique_ptr<TBitmap> Result() const;

private:
    struct TPlane {
        TFrameParameters Parameters;
        std::vector<std::uint8_t> Bytes;
        std::size_t Received = 0; // bytes delivered, kept or not
        bool Present = false;
    };
    TPlane* Current();
    [[noreturn]] void Fail(const std::string& message) const;

    std::string FDevice;
    TPlane FPlanes[3];   // grey or RGB in 0; red, green, blue otherwise
    int FCurrent = -1;
    std::size_t FReceived = 0;
    std::size_t FLimit = 0; // bytes the current frame may keep
};

// The progress of a scan: fraction in 0..1, or -1 when the page's height
// is unknown. Answers false to cancel the scan.
using TScanProgress = std::function<bool(double fraction)>;

// One open device, from sane_open to sane_close.
class TSaneDevice {
public:
    // Raises ESaneError when the device cannot be opened.
    explicit TSaneDevice(const std::string& name);
    ~TSaneDevice();
    TSaneDevice(const TSaneDevice&) = delete;
    TSaneDevice& operator=(const TSaneDevice&) = delete;

    const std::string& Name() const { return FName; }

    // Every option descriptor, option 0 (the count) left out. Read anew on
    // each call: setting one option may change the others.
    std::vector<TScanOption> Options() const;
    // The option of this name; null when the device has none.
    std::unique_ptr<TScanOption> Find(const std::string& name) const;

    // Values of scalar, boolean and string options.
    double GetNumber(const TScanOption& option) const;
    std::string GetString(const TScanOption& option) const;
    // Sets a value; numbers are rounded for integer options. Raises
    // ESaneError when the device refuses it.
    void SetNumber(const TScanOption& option, double value);
    void SetString(const TScanOption& option, const std::string& value);
    // Sets an option by name from text: a number, "true"/"false" for
    // booleans, the text itself for strings. Raises ESaneError when the
    // option is missing, inactive or refused.
    void Set(const std::string& name, const std::string& value);
    // Asks for colour pages: the scan mode "Color" when the device has a
    // settable mode that lists it. Answers whether it was set; a device
    // without it, or that refuses it, keeps its own mode.
    bool AskForColour();

    // Scans one page with every frame of it. Null when cancelled, by
    // progress answering false or by the device; ESaneError for every other
    // status. The scan is ended (sane_cancel) in every case.
    std::unique_ptr<TBitmap> Scan(const TScanProgress& progress = TScanProgress());

private:
    [[noreturn]] void Fail(const std::string& what, SANE_Status status) const;
    void Control(const TScanOption& option, SANE_Action action, void* value, SANE_Int* info) const;

    std::string FName;
    SANE_Handle FHandle = nullptr;
};
