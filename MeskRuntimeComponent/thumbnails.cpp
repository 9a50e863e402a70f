#include "MeskRuntimeComponent/thumbnails.h"

#include <cstdio>
#include <mutex>

#include <sys/stat.h>
#include <unistd.h>

#include <vips/vips.h>

#include "MeskRuntimeComponent/xdg_folders.h"
#include "core_lib/foundation/clock_random.h"
#include "core_lib/foundation/sha256.h"

namespace vandrel {

namespace {

void start_vips() {
    static std::once_flag once;
    std::call_once(once, [] {
        if (VIPS_INIT("mesk") != 0) return;
        // Pictures come from peers too: only the loaders that are fit for untrusted input.
        vips_block_untrusted_set(TRUE);
        // Thumbnails are made one by one; no operation needs keeping for a second one.
        vips_cache_set_max(0);
        vips_concurrency_set(2);
    });
}

// The shrunk image, or null when the file is no image that libvips reads.
VipsImage* shrunk(const std::string& image_path) {
    start_vips();
    VipsImage* out = nullptr;
    // Only ever smaller: a small picture stays as it is.
    if (vips_thumbnail(image_path.c_str(), &out, thumbnail_size, "height", thumbnail_size, "size", VIPS_SIZE_DOWN,
                       nullptr) != 0) {
        vips_error_clear();
        return nullptr;
    }
    return out;
}

}  // namespace

std::string make_thumbnail(const std::string& image_path, const std::string& cache_folder) {
    struct stat info {};
    if (::stat(image_path.c_str(), &info) != 0 || !S_ISREG(info.st_mode)) return "";
    // A file changed since has another name, so a stale picture is never served.
    const std::string key =
        sha256_hex(image_path + "|" + std::to_string(info.st_size) + "|" + std::to_string(info.st_mtim.tv_sec) + "." +
                   std::to_string(info.st_mtim.tv_nsec));
    std::string cached = cache_folder + key + ".jpg";
    if (::access(cached.c_str(), R_OK) == 0) return cached;
    if (!make_folders(cache_folder, 0700)) return "";
    VipsImage* image = shrunk(image_path);
    if (image == nullptr) return "";
    // Written beside it and renamed: a reader never sees half a picture.
    const std::string partial = cached + "." + random_string().substr(0, 8) + ".part.jpg";
    const bool saved = vips_jpegsave(image, partial.c_str(), "Q", 80, nullptr) == 0;
    g_object_unref(image);
    if (!saved || std::rename(partial.c_str(), cached.c_str()) != 0) {
        vips_error_clear();
        std::remove(partial.c_str());
        return "";
    }
    return cached;
}

std::string thumbnail_bytes(const std::string& image_path) {
    VipsImage* image = shrunk(image_path);
    if (image == nullptr) return "";
    void* buffer = nullptr;
    std::size_t length = 0;
    const bool saved = vips_jpegsave_buffer(image, &buffer, &length, "Q", 80, nullptr) == 0;
    g_object_unref(image);
    std::string bytes;
    if (saved) bytes.assign(static_cast<const char*>(buffer), length);
    g_free(buffer);
    if (!saved) vips_error_clear();
    return bytes;
}

}  // namespace vandrel
