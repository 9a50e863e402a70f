// The profile image: the picked image's own bytes, as a Base64 data URL, become the
// avatar. There is no image library to make a thumbnail with, so images larger than
// max_profile_image_bytes are refused rather than sent whole to every peer.
#include <sys/stat.h>
#include <cerrno>
#include <cstdint>
#include <fstream>
#include <iostream>
#include <system_error>

#include "MeskRuntimeComponent/pickers.h"
#include "MeskRuntimeComponent/pickers_jobs.h"
#include "core_lib/store/settings.h"

namespace vandrel {

namespace {

// The whole file when it is a regular file of 1 to max_bytes bytes; false otherwise.
bool read_small_file(const std::string& path, std::size_t max_bytes, std::string& bytes, std::string& why) {
    struct stat info {};
    if (stat(path.c_str(), &info) != 0) {
        why = std::error_code(errno, std::generic_category()).message();
        return false;
    }
    if (!S_ISREG(info.st_mode)) {
        why = "not a regular file";
        return false;
    }
    if (info.st_size == 0) {
        why = "the file is empty";
        return false;
    }
    if (static_cast<std::uintmax_t>(info.st_size) > max_bytes) {
        why = "larger than " + std::to_string(max_bytes) + " bytes";
        return false;
    }
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        why = "cannot be opened";
        return false;
    }
    // Read at most one byte past the limit, in case the file grew since stat().
    bytes.assign(max_bytes + 1, '\0');
    in.read(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    bytes.resize(static_cast<std::size_t>(in.gcount()));
    if (in.bad()) {
        why = "read failed";
        return false;
    }
    if (bytes.empty() || bytes.size() > max_bytes) {
        why = bytes.empty() ? "the file is empty" : "larger than " + std::to_string(max_bytes) + " bytes";
        return false;
    }
    return true;
}

}  // namespace

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
    std::string bytes;
    std::string why;
    if (!read_small_file(image_path, max_profile_image_bytes, bytes, why)) {
        std::cerr << "profile image: " << image_path << " not taken: " << why << "\n";
        return;
    }
    // The prefix says JPEG whatever the image is; peers read it as it is.
    set_avatar("data:image/jpeg;base64," + encode_base64(bytes));
}

}  // namespace vandrel
