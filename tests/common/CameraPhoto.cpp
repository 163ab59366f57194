#include "CameraPhoto.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <utility>
#include <vector>

namespace testutil {

void MakeCameraPhoto(const std::string& path, int width, int height, int orientation)
{
    const std::string size = std::to_string(width) + "x" + std::to_string(height);
    CommandResult r = Run(Tool("convert") + " -size " + size + " gradient:red-blue -fill lime -draw 'rectangle 0,0 " +
                          std::to_string(width / 3) + "," + std::to_string(height / 4) + "' -quality 95 " +
                          Quote(path));
    ASSERT_EQ(r.ExitCode, 0) << r.Output;
    const std::string thumb = path + ".thumb.jpg";
    r = Run(Tool("convert") + " -size 16x12 xc:orange " + Quote(thumb));
    ASSERT_EQ(r.ExitCode, 0) << r.Output;
    r = Run(Tool("exiftool") + " -q -overwrite_original -n -Orientation=" + std::to_string(orientation) +
            " -Make=Canon -Model='EOS Test' '-DateTimeOriginal=2024:05:06 07:08:09' -ExposureTime=0.008"
            " -GPSLatitude=48.8566 -GPSLatitudeRef=N -ExifImageWidth=" +
            std::to_string(width) + " -ExifImageHeight=" + std::to_string(height) +
            " '-IPTC:Caption-Abstract=Pont Neuf' '-XMP:Description=Vue du fleuve' '-ThumbnailImage<=" + thumb +
            "' " + Quote(path));
    std::filesystem::remove(thumb);
    ASSERT_EQ(r.ExitCode, 0) << r.Output;
}

std::string ExifTag(const std::string& path, const std::string& tag)
{
    const CommandResult r = Run(Tool("exiftool") + " -s3 -n -" + tag + " " + Quote(path));
    EXPECT_EQ(r.ExitCode, 0) << r.Output;
    std::string value = r.Output;
    while (!value.empty() && (value.back() == '\n' || value.back() == '\r'))
        value.pop_back();
    return value;
}

void ExpectCameraDataKept(const std::string& path, int width, int height)
{
    const std::vector<std::pair<std::string, std::string>> expected = {
        {"File:ImageWidth", std::to_string(width)},
        {"File:ImageHeight", std::to_string(height)},
        {"Orientation", "1"},
        {"Make", "Canon"},
        {"Model", "EOS Test"},
        {"DateTimeOriginal", "2024:05:06 07:08:09"},
        {"ExposureTime", "0.008"},
        {"GPSLatitude", "48.8566"},
        {"IPTC:Caption-Abstract", "Pont Neuf"},
        {"XMP:Description", "Vue du fleuve"},
        {"ExifImageWidth", std::to_string(width)},
        {"ExifImageHeight", std::to_string(height)},
        {"ThumbnailLength", ""},
    };
    for (const auto& [tag, value] : expected)
        EXPECT_EQ(ExifTag(path, tag), value) << tag;
}

RgbImage AutoOriented(const std::string& path)
{
    const std::string out = path + ".upright.ppm";
    const CommandResult r = Run(Tool("convert") + " " + Quote(path) + " -auto-orient -depth 8 " + Quote("ppm:" + out));
    EXPECT_EQ(r.ExitCode, 0) << r.Output;
    RgbImage image = ReadPpm(out);
    std::filesystem::remove(out);
    return image;
}

} // namespace testutil
