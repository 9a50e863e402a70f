// Real pictures for tests: an image file of a given size in the format its name's
// ending says (png, jpg, ...), and the size of an encoded picture.
#pragma once

#include <string>
#include <utility>

namespace vandrel::testing {

// False when the image could not be written.
bool write_test_image(const std::string& path, int width, int height);

// Width and height of the encoded picture; {0, 0} when it does not decode.
std::pair<int, int> picture_size(const std::string& encoded);

}  // namespace vandrel::testing
