#pragma once
// The files dropped onto the Stage in the content tests, made by the tests themselves in a
// folder: a picture, a program with an icon and one without, a text file and a picture file
// that cannot be decoded.
#include <string>

namespace ContentFiles {

// A 640 x 480 BMP of colour bands.
std::string picture(const std::string& folder, const std::string& name);
// A copy of the small fixture program built beside the tests, with a 32 x 32 icon of 32 bits
// added as its resource; empty when the platform cannot add it.
std::string programWithIcon(const std::string& folder, const std::string& name);
// The fixture program as built: no icon resource.
std::string programWithoutIcon(const std::string& folder, const std::string& name);
std::string text(const std::string& folder, const std::string& name);
// A file named as a JPEG that holds a JPEG's first bytes and then garbage.
std::string brokenJpeg(const std::string& folder, const std::string& name);

} // namespace ContentFiles
