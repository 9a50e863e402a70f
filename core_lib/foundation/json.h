// Json: the one immutable JSON value the core passes around.
// Reading never throws (a missing key, a wrong type or an index out of range reads as
// "", 0, false, an empty list or null); parse never throws; dump writes keys in byte
// order with ", " and ": " separators and passes non-UTF-8 bytes through unchanged.
#pragma once

#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace vandrel {

namespace detail {
struct JsonValue;
}

class Json {
public:
    enum class Type { NUL, NUMBER, BOOL, STRING, ARRAY, OBJECT };

    using array = std::vector<Json>;
    using object = std::map<std::string, Json>;

    Json() noexcept;
    Json(std::nullptr_t) noexcept;
    Json(bool value);
    Json(int value);
    Json(long value);
    Json(long long value);
    Json(unsigned value);
    Json(unsigned long value);
    Json(unsigned long long value);
    Json(double value);
    Json(const char* value);
    Json(std::string_view value);
    Json(const std::string& value);
    Json(std::string&& value);
    Json(const array& values);
    Json(array&& values);
    Json(const object& values);
    Json(object&& values);
    // A pointer other than const char* would otherwise become a bool.
    Json(const void*) = delete;

    Type type() const noexcept;
    bool is_null() const noexcept { return type() == Type::NUL; }
    bool is_number() const noexcept { return type() == Type::NUMBER; }
    bool is_bool() const noexcept { return type() == Type::BOOL; }
    bool is_string() const noexcept { return type() == Type::STRING; }
    bool is_array() const noexcept { return type() == Type::ARRAY; }
    bool is_object() const noexcept { return type() == Type::OBJECT; }

    // Numbers: an integer read as double, a double truncated (and clamped) as integer.
    double number_value() const noexcept;
    int int_value() const noexcept;
    std::int64_t int64_value() const noexcept;
    bool bool_value() const noexcept;
    const std::string& string_value() const noexcept;
    const array& array_items() const noexcept;
    const object& object_items() const noexcept;

    const Json& operator[](std::size_t index) const noexcept;
    // A literal 0 would otherwise be taken for a null key pointer.
    const Json& operator[](int index) const noexcept {
        return index < 0 ? (*this)[static_cast<std::size_t>(-1)] : (*this)[static_cast<std::size_t>(index)];
    }
    const Json& operator[](const std::string& key) const noexcept;
    const Json& operator[](const char* key) const noexcept { return (*this)[std::string(key)]; }

    std::string dump() const;
    void dump(std::string& out) const;

    // Null with err set on any failure: bad syntax, trailing text, invalid UTF-8,
    // nesting deeper than max_depth.
    static Json parse(const std::string& in, std::string& err) noexcept;
    // The same, failing also once the text holds more than max_values values (every
    // object, array, text, number, true, false and null counts one).
    static Json parse(const std::string& in, std::string& err, std::size_t max_values) noexcept;
    static constexpr int max_depth = 200;

    bool operator==(const Json& other) const noexcept;
    bool operator!=(const Json& other) const noexcept { return !(*this == other); }

private:
    explicit Json(std::shared_ptr<const detail::JsonValue> ptr) noexcept;
    std::shared_ptr<const detail::JsonValue> m_ptr;
    friend struct JsonBuilder;
};

}  // namespace vandrel
