#pragma once
// Camera photos for the tests of orientation and metadata: JPEG files made
// and read back by the outside tools (ImageMagick, exiftool).

#include "TestUtil.h"

#include <string>

namespace testutil {

// A camera photo for the metadata tests, made by the outside tools: a
// width x height JPEG with a distinct corner (ImageMagick), then EXIF (the
// given orientation, camera, date, exposure, GPS, pixel sizes and a
// thumbnail), an IPTC caption and an XMP description (exiftool). Fails the
// test when a tool fails.
void MakeCameraPhoto(const std::string& path, int width, int height, int orientation);
// One tag of a file as exiftool prints its plain value ("-n"), "" when the
// file has no such tag.
std::string ExifTag(const std::string& path, const std::string& tag);
// Checks with exiftool that a saved copy of a MakeCameraPhoto photo is a
// width x height JPEG that kept the camera, date, exposure, GPS, IPTC and XMP
// data, with the orientation normal, those pixel sizes and no thumbnail.
void ExpectCameraDataKept(const std::string& path, int width, int height);
// The picture of a file turned upright by ImageMagick (-auto-orient), as RGB.
RgbImage AutoOriented(const std::string& path);

} // namespace testutil
