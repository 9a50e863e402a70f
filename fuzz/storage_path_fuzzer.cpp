// Storage paths ("token|relid|name") from any text, resolved against an access list of
// two granted folders (the second inside the first) in a tree that holds files, folders
// and links leading in, out, up, to themselves and nowhere. "@A" and "@B" in the input
// stand for the two folders' tokens. A path that resolves lies inside its granted folder
// and is not the folder itself, with its links resolved when it exists; a found file is
// a regular file and the path resolves to it; its size is that file's; the storage path
// made for a found file resolves back to it; a text that splits into three fields
// joins back to itself.
#include <sys/stat.h>

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>

#include "MeskRuntimeComponent/future_access_list.h"
#include "MeskRuntimeComponent/storage_paths.h"
#include "core_lib/foundation/text_utils.h"
#include "fuzz/support/fuzz_check.h"
#include "tests/runtime/runtime_test_folder.h"

namespace {

using namespace vandrel;
using fuzzing::property_broken;

struct granted_tree {
    testing::TestFolder folder;
    std::string granted;
    std::string inner;
    std::unique_ptr<FutureAccessList> list;
    std::string token_a;
    std::string token_b;

    granted_tree() {
        folder.write("outside/secret.txt", "secret");
        folder.write("granted/a.txt", "a");
        folder.write("granted/sub/b.txt", "bb");
        folder.write("granted/sub/deeper/c.bin", "ccc");
        folder.write("granted/with space/d e.txt", "dddd");
        folder.write("granted/sub/x|y.txt", "bar in the name");
        // On this system a backslash is a name's own character, not a separator.
        folder.write("granted/sub\\b.txt", "not sub/b.txt");
        folder.make_folder("granted/empty");
        namespace fs = std::filesystem;
        const fs::path g = folder / "granted";
        fs::create_symlink("../outside/secret.txt", g / "link-out");
        fs::create_symlink("../outside", g / "link-dir-out");
        fs::create_symlink("sub/b.txt", g / "link-in");
        fs::create_symlink("sub", g / "link-dir-in");
        fs::create_symlink("..", g / "link-up");
        fs::create_symlink(".", g / "link-here");
        fs::create_symlink("link-self", g / "link-self");
        fs::create_symlink("nowhere", g / "dangling");
        fs::create_symlink("../a.txt", g / "sub/link-back");
        fs::create_symlink("../../outside/secret.txt", g / "sub/link-out");
        fs::create_symlink(folder / "outside/secret.txt", g / "sub/absolute-out");
        granted = fs::canonical(g).string();
        inner = fs::canonical(g / "sub").string();
        list = std::make_unique<FutureAccessList>(folder / "access.json");
        token_a = list->add(granted);
        token_b = list->add(inner);
        if (token_a.empty() || token_b.empty()) property_broken("no tokens for the granted folders");
    }
};

bool inside(const std::string& path, const std::string& folder) {
    return starts_with(path, folder + "/") && path.size() > folder.size() + 1;
}

std::string canonical_or_empty(const std::string& path) {
    std::error_code error;
    const auto canonical = std::filesystem::canonical(path, error);
    return error ? std::string() : canonical.string();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static granted_tree tree;
    std::string text(reinterpret_cast<const char*>(data), size);
    replace_all(text, "@A", tree.token_a);
    replace_all(text, "@B", tree.token_b);
    const std::string seen = " for \"" + text + "\"";

    const auto parsed = parse_storage_path(text);
    if (parsed && make_storage_path(*parsed) != text) property_broken("the fields do not join back" + seen);

    const std::string resolved = resolve_storage_path(*tree.list, text);
    if (!resolved.empty()) {
        if (!parsed) property_broken("a text of other than three fields resolved" + seen);
        const auto granted = tree.list->folder_for(parsed->token);
        if (!granted) property_broken("an unknown token resolved" + seen);
        const std::string folder = canonical_or_empty(*granted);
        if (!inside(resolved, folder)) property_broken("resolved outside its folder: " + resolved + seen);
        struct stat info {};
        if (lstat(resolved.c_str(), &info) == 0) {
            if (canonical_or_empty(resolved) != resolved) property_broken("an existing path with a link: " + resolved);
        } else if (const std::string parent =
                       canonical_or_empty(std::filesystem::path(resolved).parent_path().string());
                   parent != folder && !inside(parent, folder)) {
            property_broken("a new file's folder outside the granted one: " + resolved + seen);
        }
    }

    const std::string found = find_file_in_folder(*tree.list, text);
    if (!found.empty()) {
        struct stat info {};
        if (found != resolved || stat(found.c_str(), &info) != 0 || !S_ISREG(info.st_mode)) {
            property_broken("found what is not the resolved regular file: " + found + seen);
        }
        if (get_file_size(*tree.list, text) != static_cast<std::uint64_t>(info.st_size)) {
            property_broken("a size that is not the file's" + seen);
        }
        const std::string folder = canonical_or_empty(*tree.list->folder_for(parsed->token));
        const std::string again = storage_path_for_file(*tree.list, folder, found);
        if (!again.empty() && find_file_in_folder(*tree.list, again) != found) {
            property_broken("the storage path made for " + found + " does not lead back to it");
        }
    } else if (get_file_size(*tree.list, text) != 0) {
        property_broken("a size for a path that names no file" + seen);
    }
    return 0;
}
