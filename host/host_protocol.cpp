#include "host/host_protocol.h"

#include <algorithm>
#include <cctype>
#include <map>

#include "core_lib/foundation/json.h"

namespace vandrel::host {

namespace {

bool is_blank(char c) { return c != '\n' && std::isspace(static_cast<unsigned char>(c)) != 0; }

// The characters a backslash escapes inside double quotes; before any other it stays.
bool escapable_in_double_quotes(char c) { return c == '"' || c == '\\' || c == '$' || c == '`'; }

// Splits the text into words as a POSIX shell quotes them (see the header). False, with
// the error, for an unterminated quote or a backslash that ends the text.
bool split_words(const std::string& text, std::vector<std::string>& out, std::string& error) {
    std::string word;
    bool in_word = false;  // a quoted "" is a word too, though it holds nothing
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (is_blank(c)) {
            if (in_word) out.push_back(std::move(word));
            word.clear();
            in_word = false;
            continue;
        }
        in_word = true;
        if (c == '\'') {
            const auto end = text.find('\'', i + 1);
            if (end == std::string::npos) {
                error = "unterminated single quote (')";
                return false;
            }
            word.append(text, i + 1, end - i - 1);
            i = end;
        } else if (c == '"') {
            bool closed = false;
            for (++i; i < text.size() && !closed; ++i) {
                if (text[i] == '"')
                    closed = true;
                else if (text[i] == '\\' && i + 1 < text.size() && escapable_in_double_quotes(text[i + 1]))
                    word += text[++i];
                else
                    word += text[i];
            }
            if (!closed) {
                error = "unterminated double quote (\")";
                return false;
            }
            --i;  // the loop above stepped past the closing quote
        } else if (c == '\\') {
            if (i + 1 == text.size()) {
                error = "a backslash ends the line and escapes nothing";
                return false;
            }
            word += text[++i];
        } else {
            word += c;
        }
    }
    if (in_word) out.push_back(std::move(word));
    return true;
}

std::string strip(const std::string& s) {
    const auto first = s.find_first_not_of(" \t\r");
    if (first == std::string::npos) return "";
    const auto last = s.find_last_not_of(" \t\r");
    return s.substr(first, last - first + 1);
}

std::string strip_leading(const std::string& s) {
    const auto first = s.find_first_not_of(" \t\r");
    return first == std::string::npos ? "" : s.substr(first);
}

command invalid(const std::string& name, std::string code, std::string why) {
    command c;
    c.reply_to = name;
    return refused(std::move(c), std::move(code), std::move(why));
}

const std::string wrong_arguments = "invalid_arguments";

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

// The dialog PickAndSendByCategory opens for the request: the folder dialog for the type
// "folder", the files dialog for anything else (an unreadable request included).
dialog category_dialog(const std::string& request_json) {
    std::string error;
    const Json request = Json::parse(request_json, error);
    return request["type"].string_value() == "folder" ? dialog::folder_to_send : dialog::files;
}

const std::map<std::string, std::string> pick_usages = {
    {":pick-folder", "usage: :pick-folder PEER PATH"},
    {":pick-files", "usage: :pick-files PATH..."},
    {":pick-category", "usage: :pick-category JSON PATH..."},
    {":pick-image", "usage: :pick-image PATH"},
    {":pick-accepted-folder", "usage: :pick-accepted-folder PATH"},
};

// A pick that answers the dialog with the paths.
command pick(command_kind kind, dialog answers, std::vector<std::string> paths) {
    command c;
    c.kind = kind;
    c.answers = answers;
    c.paths = std::move(paths);
    return c;
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
        c.reply_to = c.endpoint;
        std::string error;
        // The core would read a broken body as some other request.
        if (!c.body.empty() && (Json::parse(c.body, error), !error.empty()))
            return refused(std::move(c), "invalid_json", "the body is not JSON: " + error);
        return c;
    }
    const auto space = line.find_first_of(" \t");
    const std::string name = line.substr(0, space);
    // Only the line's end is cut off, not its trailing blanks: an escaped blank may end a path.
    std::string args = raw.substr(raw.find(':') + name.size());
    if (!args.empty() && args.back() == '\r') args.pop_back();
    args = strip_leading(args);
    if (name == ":quit") {
        c.kind = command_kind::quit;
        return c;
    }
    const auto usage = pick_usages.find(name);
    if (usage == pick_usages.end()) return invalid(name, "unknown_command", "unknown command " + name);
    std::string json;
    if (name == ":pick-category") {
        std::string rest;
        if (!take_json_object(args, json, rest)) return invalid(name, wrong_arguments, usage->second);
        args = rest;
    }
    std::vector<std::string> w;
    std::string error;
    if (!split_words(args, w, error)) return invalid(name, wrong_arguments, name + ": " + error);
    if (std::find(w.begin(), w.end(), std::string()) != w.end()) return invalid(name, "empty_path", "a path is empty");
    if (name == ":pick-folder") {
        if (w.size() != 2) return invalid(name, wrong_arguments, usage->second);
        c = pick(command_kind::pick_folder, dialog::folder_to_send, {w[1]});
        c.peer = w[0];
    } else if (name == ":pick-files") {
        if (w.empty()) return invalid(name, wrong_arguments, usage->second);
        c = pick(command_kind::pick_files, dialog::files, w);
    } else if (name == ":pick-category") {
        c = pick(command_kind::pick_category, category_dialog(json), w);
        c.body = json;
    } else if (name == ":pick-image") {
        if (w.size() != 1) return invalid(name, wrong_arguments, usage->second);
        c = pick(command_kind::pick_image, dialog::image, w);
    } else {
        if (w.size() != 1) return invalid(name, wrong_arguments, usage->second);
        c = pick(command_kind::pick_accepted_folder, dialog::accepted_folder, w);
        c.endpoint = "/add_accepted_folder";
        c.body = "{}";
    }
    c.reply_to = name;
    return c;
}

command refused(command c, std::string error_code, std::string error) {
    c.kind = command_kind::invalid;
    c.answers.reset();
    c.error_code = std::move(error_code);
    c.error = std::move(error);
    return c;
}

std::string error_reply(const command& c) {
    return reply_line(
        c.reply_to, Json(Json::object{{"error_code", c.error_code}, {"message", c.error}, {"status", "error"}}).dump());
}

std::string success_reply(const command& c) {
    return reply_line(c.reply_to, Json(Json::object{{"status", "success"}}).dump());
}

std::string reply_line(const std::string& endpoint, const std::string& reply) {
    return "reply " + endpoint + " " + reply;
}

std::string event_line(const std::string& text) { return "event " + text; }

}  // namespace vandrel::host
