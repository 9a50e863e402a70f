#include "host/host_protocol.h"

#include <sstream>

namespace vandrel::host {

namespace {

// Splits at runs of blanks; paths with blanks are not supported on this line protocol.
std::vector<std::string> words(const std::string& text) {
    std::istringstream in(text);
    std::vector<std::string> out;
    for (std::string w; in >> w;) out.push_back(w);
    return out;
}

std::string strip(const std::string& s) {
    const auto first = s.find_first_not_of(" \t\r");
    if (first == std::string::npos) return "";
    const auto last = s.find_last_not_of(" \t\r");
    return s.substr(first, last - first + 1);
}

command invalid(std::string why) {
    command c;
    c.kind = command_kind::invalid;
    c.error = std::move(why);
    return c;
}

// A JSON object at the start of the text, up to its matching brace; the rest after it.
bool take_json_object(const std::string& text, std::string& object, std::string& rest) {
    if (text.empty() || text[0] != '{') return false;
    int depth = 0;
    bool in_string = false;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (in_string) {
            if (c == '\\')
                ++i;
            else if (c == '"')
                in_string = false;
            continue;
        }
        if (c == '"')
            in_string = true;
        else if (c == '{')
            ++depth;
        else if (c == '}' && --depth == 0) {
            object = text.substr(0, i + 1);
            rest = text.substr(i + 1);
            return true;
        }
    }
    return false;
}

}  // namespace

command parse_command(const std::string& raw) {
    const std::string line = strip(raw);
    command c;
    if (line.empty()) return c;
    if (line[0] != ':') {
        const auto space = line.find_first_of(" \t");
        c.kind = command_kind::api_request;
        c.endpoint = line.substr(0, space);
        c.body = space == std::string::npos ? "" : strip(line.substr(space + 1));
        return c;
    }
    const auto space = line.find_first_of(" \t");
    const std::string name = line.substr(0, space);
    const std::string args = space == std::string::npos ? "" : strip(line.substr(space + 1));
    if (name == ":quit") {
        c.kind = command_kind::quit;
        return c;
    }
    if (name == ":pick-folder") {
        auto w = words(args);
        if (w.size() != 2) return invalid("usage: :pick-folder PEER PATH");
        c.kind = command_kind::pick_folder;
        c.peer = w[0];
        c.paths = {w[1]};
        return c;
    }
    if (name == ":pick-files") {
        c.kind = command_kind::pick_files;
        c.paths = words(args);
        if (c.paths.empty()) return invalid("usage: :pick-files PATH...");
        return c;
    }
    if (name == ":pick-category") {
        std::string object, rest;
        if (!take_json_object(args, object, rest)) return invalid("usage: :pick-category JSON PATH...");
        c.kind = command_kind::pick_category;
        c.body = object;
        c.paths = words(rest);
        return c;
    }
    if (name == ":pick-image") {
        auto w = words(args);
        if (w.size() != 1) return invalid("usage: :pick-image PATH");
        c.kind = command_kind::pick_image;
        c.paths = w;
        return c;
    }
    return invalid("unknown command " + name);
}

std::string reply_line(const std::string& endpoint, const std::string& reply) {
    return "reply " + endpoint + " " + reply;
}

std::string event_line(const std::string& text) { return "event " + text; }

}  // namespace vandrel::host
