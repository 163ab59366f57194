#pragma once
// SANE's own `test` backend as the scanner of a test: a configuration folder
// whose dll.conf lists only that backend, set in SANE_CONFIG_DIR before the
// library starts, so that no hardware is needed and none is probed.

#include "TestUtil.h"

#include <cstdlib>
#include <string>

namespace testutil {

class SaneTestConfig {
public:
    // devices: how many virtual devices the backend offers (test:0...).
    explicit SaneTestConfig(int devices = 2)
    {
        WriteText(Dir.File("dll.conf"), "test\n");
        // The backend's start values: a grey page of 80 x 100 mm at 50 dpi.
        WriteText(Dir.File("test.conf"), "number_of_devices " + std::to_string(devices) + "\n" + R"(mode Gray
depth 8
hand-scanner false
three-pass false
three-pass-order RGB
resolution_min 1.0
resolution_max 1200.0
resolution_quant 1.0
resolution 50.0
test-picture "Solid black"
invert-endianess false
read-limit false
read-limit-size 1
read-delay false
read-delay-duration 1000
read-status-code "Default"
fuzzy-parameters false
ppl-loss 0
non-blocking false
select-fd false
enable-test-options false
geometry_min 0.0
geometry_max 200.0
geometry_quant 1.0
tl_x 0.0
tl_y 0.0
br_x 80.0
br_y 100.0
)");
        const char* old = std::getenv("SANE_CONFIG_DIR");
        FHadOld = old != nullptr;
        if (old)
            FOld = old;
        setenv("SANE_CONFIG_DIR", Dir.Path().c_str(), 1);
    }
    ~SaneTestConfig()
    {
        if (FHadOld)
            setenv("SANE_CONFIG_DIR", FOld.c_str(), 1);
        else
            unsetenv("SANE_CONFIG_DIR");
    }
    SaneTestConfig(const SaneTestConfig&) = delete;
    SaneTestConfig& operator=(const SaneTestConfig&) = delete;

    // The same configuration for an outside tool's command line.
    std::string Env() const { return "SANE_CONFIG_DIR=" + Quote(Dir.Path()) + " "; }

    TempDir Dir;

private:
    static void WriteText(const std::string& path, const std::string& text)
    {
        WriteFile(path, std::vector<std::uint8_t>(text.begin(), text.end()));
    }
    bool FHadOld = false;
    std::string FOld;
};

// The configuration of this test program, made on first use.
inline const SaneTestConfig& SaneTest()
{
    static const SaneTestConfig config;
    return config;
}

} // namespace testutil
