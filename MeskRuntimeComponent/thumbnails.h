// Thumbnails of image files: a JPEG of at most 400 pixels on its long side, made with
// libvips (which shrinks while it loads, so a large photo costs little memory), once per
// file and kept in a cache folder under a name that changes when the file does.
#pragma once

#include <string>

namespace vandrel {

inline constexpr int thumbnail_size = 400;

// The path of the thumbnail of the image at `image_path`, made now when the cache does
// not hold it yet; "" when the file is no image libvips reads. Thread-safe.
std::string make_thumbnail(const std::string& image_path, const std::string& cache_folder);

// The thumbnail's JPEG bytes, made in memory (nothing kept); "" as above.
std::string thumbnail_bytes(const std::string& image_path);

}  // namespace vandrel
