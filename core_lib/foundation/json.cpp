#include "core_lib/foundation/json.h"

#include <cmath>
#include <cstdio>
#include <limits>
#include <variant>

#include <nlohmann/json.hpp>

namespace vandrel {

namespace detail {

// Integers are kept apart from other numbers so that they dump as integers.
struct JsonValue {
    std::variant<std::nullptr_t, bool, std::int64_t, double, std::string, Json::array, Json::object> data;
};

}  // namespace detail

namespace {

using detail::JsonValue;

const std::string& empty_string() {
    static const std::string s;
    return s;
}
const Json::array& empty_array() {
    static const Json::array a;
    return a;
}
const Json::object& empty_object() {
    static const Json::object o;
    return o;
}
const Json& null_json() {
    static const Json n;
    return n;
}

template <typename T>
std::shared_ptr<const JsonValue> make_value(T&& v) {
    auto p = std::make_shared<JsonValue>();
    p->data = std::forward<T>(v);
    return p;
}

std::shared_ptr<const JsonValue> from_unsigned(unsigned long long v) {
    if (v <= static_cast<unsigned long long>(std::numeric_limits<std::int64_t>::max()))
        return make_value(static_cast<std::int64_t>(v));
    return make_value(static_cast<double>(v));
}

void dump_string(const std::string& s, std::string& out) {
    out += '"';
    for (std::size_t i = 0; i < s.size(); ++i) {
        const unsigned char c = static_cast<unsigned char>(s[i]);
        switch (c) {
            case '\\':
                out += "\\\\";
                break;
            case '"':
                out += "\\\"";
                break;
            case '\b':
                out += "\\b";
                break;
            case '\f':
                out += "\\f";
                break;
            case '\n':
                out += "\\n";
                break;
            case '\r':
                out += "\\r";
                break;
            case '\t':
                out += "\\t";
                break;
            default:
                if (c < 0x20) {
                    char buf[8];
                    std::snprintf(buf, sizeof buf, "\\u%04x", c);
                    out += buf;
                } else if (c == 0xe2 && i + 2 < s.size() && static_cast<unsigned char>(s[i + 1]) == 0x80 &&
                           (static_cast<unsigned char>(s[i + 2]) == 0xa8 ||
                            static_cast<unsigned char>(s[i + 2]) == 0xa9)) {
                    // U+2028 and U+2029 break JavaScript string literals.
                    out += static_cast<unsigned char>(s[i + 2]) == 0xa8 ? "\\u2028" : "\\u2029";
                    i += 2;
                } else {
                    out += static_cast<char>(c);
                }
        }
    }
    out += '"';
}

void dump_value(const JsonValue* v, std::string& out);

void dump_json(const Json& j, std::string& out) { j.dump(out); }

struct Dumper {
    std::string& out;
    void operator()(std::nullptr_t) const { out += "null"; }
    void operator()(bool b) const { out += b ? "true" : "false"; }
    void operator()(std::int64_t i) const { out += std::to_string(i); }
    void operator()(double d) const {
        if (!std::isfinite(d)) {
            out += "null";
            return;
        }
        char buf[32];
        std::snprintf(buf, sizeof buf, "%.17g", d);
        out += buf;
    }
    void operator()(const std::string& s) const { dump_string(s, out); }
    void operator()(const Json::array& a) const {
        out += '[';
        bool first = true;
        for (const auto& item : a) {
            if (!first) out += ", ";
            first = false;
            dump_json(item, out);
        }
        out += ']';
    }
    void operator()(const Json::object& o) const {
        out += '{';
        bool first = true;
        for (const auto& [key, value] : o) {
            if (!first) out += ", ";
            first = false;
            dump_string(key, out);
            out += ": ";
            dump_json(value, out);
        }
        out += '}';
    }
};

void dump_value(const JsonValue* v, std::string& out) {
    if (!v) {
        out += "null";
        return;
    }
    std::visit(Dumper{out}, v->data);
}

}  // namespace

// Builds a value tree from the events of nlohmann's parser; stops past the depth limit
// and past the number of values allowed.
struct JsonBuilder : nlohmann::json::json_sax_t {
    explicit JsonBuilder(std::size_t max_values) : values_left(max_values) {}
    std::size_t values_left;
    bool counted() {
        if (values_left == 0) {
            error = "too many values";
            return false;
        }
        --values_left;
        return true;
    }

    struct Frame {
        bool is_object;
        Json::array items;
        Json::object members;
        std::string key;
    };
    std::vector<Frame> stack;
    Json result;
    std::string error;

    bool add(Json value) {
        if (!counted()) return false;
        if (stack.empty()) {
            result = std::move(value);
            return true;
        }
        Frame& top = stack.back();
        if (top.is_object)
            top.members.insert_or_assign(std::move(top.key), std::move(value));
        else
            top.items.push_back(std::move(value));
        return true;
    }
    bool open(bool is_object) {
        if (static_cast<int>(stack.size()) >= Json::max_depth) {
            error = "exceeded maximum nesting depth";
            return false;
        }
        stack.push_back(Frame{is_object, {}, {}, {}});
        return true;
    }

    bool null() override { return add(Json()); }
    bool boolean(bool v) override { return add(Json(v)); }
    bool number_integer(number_integer_t v) override { return add(Json(static_cast<long long>(v))); }
    bool number_unsigned(number_unsigned_t v) override { return add(Json(static_cast<unsigned long long>(v))); }
    bool number_float(number_float_t v, const string_t&) override { return add(Json(v)); }
    bool string(string_t& v) override { return add(Json(std::move(v))); }
    bool binary(binary_t&) override {
        error = "binary values are not JSON";
        return false;
    }
    bool start_object(std::size_t) override { return open(true); }
    bool key(string_t& k) override {
        stack.back().key = std::move(k);
        return true;
    }
    bool end_object() override {
        Json value(std::move(stack.back().members));
        stack.pop_back();
        return add(std::move(value));
    }
    bool start_array(std::size_t) override { return open(false); }
    bool end_array() override {
        Json value(std::move(stack.back().items));
        stack.pop_back();
        return add(std::move(value));
    }
    bool parse_error(std::size_t, const std::string&, const nlohmann::json::exception& ex) override {
        error = ex.what();
        return false;
    }
};

Json::Json() noexcept = default;
Json::Json(std::nullptr_t) noexcept {}
Json::Json(std::shared_ptr<const JsonValue> ptr) noexcept : m_ptr(std::move(ptr)) {}
Json::Json(bool value) : m_ptr(make_value(value)) {}
Json::Json(int value) : m_ptr(make_value(static_cast<std::int64_t>(value))) {}
Json::Json(long value) : m_ptr(make_value(static_cast<std::int64_t>(value))) {}
Json::Json(long long value) : m_ptr(make_value(static_cast<std::int64_t>(value))) {}
Json::Json(unsigned value) : m_ptr(make_value(static_cast<std::int64_t>(value))) {}
Json::Json(unsigned long value) : m_ptr(from_unsigned(value)) {}
Json::Json(unsigned long long value) : m_ptr(from_unsigned(value)) {}
Json::Json(double value) : m_ptr(make_value(value)) {}
Json::Json(const char* value) : m_ptr(make_value(std::string(value ? value : ""))) {}
Json::Json(std::string_view value) : m_ptr(make_value(std::string(value))) {}
Json::Json(const std::string& value) : m_ptr(make_value(value)) {}
Json::Json(std::string&& value) : m_ptr(make_value(std::move(value))) {}
Json::Json(const array& values) : m_ptr(make_value(values)) {}
Json::Json(array&& values) : m_ptr(make_value(std::move(values))) {}
Json::Json(const object& values) : m_ptr(make_value(values)) {}
Json::Json(object&& values) : m_ptr(make_value(std::move(values))) {}

Json::Type Json::type() const noexcept {
    if (!m_ptr) return Type::NUL;
    switch (m_ptr->data.index()) {
        case 0:
            return Type::NUL;
        case 1:
            return Type::BOOL;
        case 2:
        case 3:
            return Type::NUMBER;
        case 4:
            return Type::STRING;
        case 5:
            return Type::ARRAY;
        default:
            return Type::OBJECT;
    }
}

double Json::number_value() const noexcept {
    if (!m_ptr) return 0;
    if (auto i = std::get_if<std::int64_t>(&m_ptr->data)) return static_cast<double>(*i);
    if (auto d = std::get_if<double>(&m_ptr->data)) return *d;
    return 0;
}

namespace {
template <typename Int>
Int clamp_to(double d) {
    if (std::isnan(d)) return 0;
    if (d <= static_cast<double>(std::numeric_limits<Int>::min())) return std::numeric_limits<Int>::min();
    if (d >= static_cast<double>(std::numeric_limits<Int>::max())) return std::numeric_limits<Int>::max();
    return static_cast<Int>(d);
}
}  // namespace

int Json::int_value() const noexcept {
    if (!m_ptr) return 0;
    if (auto i = std::get_if<std::int64_t>(&m_ptr->data)) {
        if (*i < std::numeric_limits<int>::min()) return std::numeric_limits<int>::min();
        if (*i > std::numeric_limits<int>::max()) return std::numeric_limits<int>::max();
        return static_cast<int>(*i);
    }
    if (auto d = std::get_if<double>(&m_ptr->data)) return clamp_to<int>(*d);
    return 0;
}

std::int64_t Json::int64_value() const noexcept {
    if (!m_ptr) return 0;
    if (auto i = std::get_if<std::int64_t>(&m_ptr->data)) return *i;
    if (auto d = std::get_if<double>(&m_ptr->data)) return clamp_to<std::int64_t>(*d);
    return 0;
}

bool Json::bool_value() const noexcept {
    if (!m_ptr) return false;
    if (auto b = std::get_if<bool>(&m_ptr->data)) return *b;
    return false;
}

const std::string& Json::string_value() const noexcept {
    if (m_ptr)
        if (auto s = std::get_if<std::string>(&m_ptr->data)) return *s;
    return empty_string();
}

const Json::array& Json::array_items() const noexcept {
    if (m_ptr)
        if (auto a = std::get_if<array>(&m_ptr->data)) return *a;
    return empty_array();
}

const Json::object& Json::object_items() const noexcept {
    if (m_ptr)
        if (auto o = std::get_if<object>(&m_ptr->data)) return *o;
    return empty_object();
}

const Json& Json::operator[](std::size_t index) const noexcept {
    const array& a = array_items();
    return index < a.size() ? a[index] : null_json();
}

const Json& Json::operator[](const std::string& key) const noexcept {
    const object& o = object_items();
    auto it = o.find(key);
    return it == o.end() ? null_json() : it->second;
}

std::string Json::dump() const {
    std::string out;
    dump(out);
    return out;
}

void Json::dump(std::string& out) const { dump_value(m_ptr.get(), out); }

Json Json::parse(const std::string& in, std::string& err) noexcept {
    return parse(in, err, std::numeric_limits<std::size_t>::max());
}

Json Json::parse(const std::string& in, std::string& err, std::size_t max_values) noexcept {
    try {
        JsonBuilder builder(max_values);
        const bool ok = nlohmann::json::sax_parse(in, &builder, nlohmann::json::input_format_t::json, true);
        if (!ok) {
            err = builder.error.empty() ? "parse error" : builder.error;
            return Json();
        }
        err.clear();
        return std::move(builder.result);
    } catch (const std::exception& e) {
        err = e.what();
    } catch (...) {
        err = "parse error";
    }
    return Json();
}

bool Json::operator==(const Json& other) const noexcept {
    if (m_ptr == other.m_ptr) return true;
    const Type t = type();
    if (t != other.type()) return false;
    switch (t) {
        case Type::NUL:
            return true;
        case Type::BOOL:
            return bool_value() == other.bool_value();
        case Type::NUMBER: {
            auto a = std::get_if<std::int64_t>(&m_ptr->data);
            auto b = std::get_if<std::int64_t>(&other.m_ptr->data);
            if (a && b) return *a == *b;
            return number_value() == other.number_value();
        }
        case Type::STRING:
            return string_value() == other.string_value();
        case Type::ARRAY:
            return array_items() == other.array_items();
        case Type::OBJECT:
            return object_items() == other.object_items();
    }
    return false;
}

}  // namespace vandrel
