// The profile image: a thumbnail of the picked image (a JPEG of at most 400 pixels on
// its long side), as a Base64 data URL, becomes the avatar, so that every peer gets a
// small picture whatever was picked.
#include <cstdint>
#include <iostream>

#include "MeskRuntimeComponent/pickers.h"
#include "MeskRuntimeComponent/pickers_jobs.h"
#include "MeskRuntimeComponent/thumbnails.h"
#include "core_lib/foundation/peer_limits.h"
#include "core_lib/store/settings.h"

namespace vandrel {

std::string encode_base64(const std::string& bytes) {
    static constexpr char alphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    out.reserve((bytes.size() + 2) / 3 * 4);
    std::size_t i = 0;
    for (; i + 3 <= bytes.size(); i += 3) {
        const std::uint32_t n = static_cast<std::uint32_t>(static_cast<unsigned char>(bytes[i])) << 16 |
                                static_cast<std::uint32_t>(static_cast<unsigned char>(bytes[i + 1])) << 8 |
                                static_cast<unsigned char>(bytes[i + 2]);
        out += alphabet[n >> 18 & 63];
        out += alphabet[n >> 12 & 63];
        out += alphabet[n >> 6 & 63];
        out += alphabet[n & 63];
    }
    const std::size_t rest = bytes.size() - i;
    if (rest > 0) {
        std::uint32_t n = static_cast<std::uint32_t>(static_cast<unsigned char>(bytes[i])) << 16;
        if (rest == 2) n |= static_cast<std::uint32_t>(static_cast<unsigned char>(bytes[i + 1])) << 8;
        out += alphabet[n >> 18 & 63];
        out += alphabet[n >> 12 & 63];
        out += rest == 2 ? alphabet[n >> 6 & 63] : '=';
        out += '=';
    }
    return out;
}

void set_avatar_from_image(const std::string& image_path) {
    const std::string jpeg = thumbnail_bytes(image_path);
    if (jpeg.empty() || jpeg.size() > limits::avatar_bytes) {
        std::cerr << "profile image: " << image_path << " not taken: not an image that can be read\n";
        return;
    }
    set_avatar("data:image/jpeg;base64," + encode_base64(jpeg));
}

}  // namespace vandrel
