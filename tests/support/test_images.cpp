#include "tests/support/test_images.h"

#include <vips/vips.h>

namespace vandrel::testing {

namespace {

void start_vips() {
    static const bool started = VIPS_INIT("mesk tests") == 0;
    (void)started;
}

}  // namespace

bool write_test_image(const std::string& path, int width, int height) {
    start_vips();
    VipsImage* noise = nullptr;
    // Noise rather than a plain colour, so that the picture is not trivially small.
    if (vips_gaussnoise(&noise, width, height, nullptr) != 0) return false;
    VipsImage* bytes = nullptr;
    const bool cast = vips_cast_uchar(noise, &bytes, nullptr) == 0;
    g_object_unref(noise);
    if (!cast) return false;
    const bool written = vips_image_write_to_file(bytes, path.c_str(), nullptr) == 0;
    g_object_unref(bytes);
    if (!written) vips_error_clear();
    return written;
}

std::pair<int, int> picture_size(const std::string& encoded) {
    start_vips();
    VipsImage* image = vips_image_new_from_buffer(encoded.data(), encoded.size(), "", nullptr);
    if (image == nullptr) {
        vips_error_clear();
        return {0, 0};
    }
    std::pair<int, int> size{vips_image_get_width(image), vips_image_get_height(image)};
    g_object_unref(image);
    return size;
}

}  // namespace vandrel::testing
