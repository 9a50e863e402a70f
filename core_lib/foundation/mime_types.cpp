#include "core_lib/foundation/mime_types.h"

#include "core_lib/foundation/text_utils.h"

namespace vandrel {

const std::unordered_map<std::string, std::string>& mime_table() {
    // A function-local static is filled completely, exactly once, before any reader sees it.
    static const std::unordered_map<std::string, std::string> table = {
        {"html", "text/html"},
        {"js", "text/javascript"},
        {"css", "text/css"},
        {"bmp", "image/bmp"},
        {"gif", "image/gif"},
        {"ico", "image/x-icon"},
        {"jpg", "image/jpeg"},
        {"jpeg", "image/jpeg"},
        {"png", "image/png"},
        {"tiff", "image/tiff"},
        {"heic", "image/heic"},
        {"heif", "image/heif"},
        {"mp3", "audio/mpeg"},
        {"oga", "audio/ogg"},
        {"wav", "audio/x-wav"},
        {"wma", "audio/x-ms-wma"},
        {"3gp", "video/3gpp"},
        {"avi", "video/x-msvideo"},
        {"flv", "video/x-flv"},
        {"f4v", "video/x-f4v"},
        {"m4v", "video/x-m4v"},
        {"mkv", "video/x-matroska"},
        {"wmv", "video/x-ms-wmv"},
        {"mp4", "video/mp4"},
        {"ogv", "video/ogg"},
        {"webm", "video/webm"},
        {"mov", "video/mov"},
        {"doc", "application/msword"},
        {"docx", "application/vnd.openxmlformats-officedocument.wordprocessingml.document"},
        {"xls", "application/vnd.ms-excel"},
        {"xlsx", "application/vnd.openxmlformats-officedocument.spreadsheetml.sheet"},
        {"ppt", "application/vnd.ms-powerpoint"},
        {"pptx", "application/vnd.openxmlformats-officedocument.presentationml.presentation"},
    };
    return table;
}

std::string mime_type_for(const std::string& name) {
    // Only '.' is looked for: a separator after the last dot stays in the key.
    const std::size_t dot = name.rfind('.');
    const std::string key = to_lower(dot == std::string::npos ? name : name.substr(dot + 1));
    const auto& table = mime_table();
    const auto found = table.find(key);
    return found == table.end() ? "application/octet-stream" : found->second;
}

}  // namespace vandrel
