// Json::parse on any bytes: it never throws or crashes, gives null with an error or a
// value without one, honours a bound on the number of values, and what it parses dumps to
// text that parses again and dumps the same from the second round on (the first settles
// -0 and numbers out of range).
#include <cstddef>
#include <cstdint>
#include <string>

#include "core_lib/foundation/json.h"
#include "fuzz/support/fuzz_check.h"

namespace {

using vandrel::Json;
using vandrel::fuzzing::property_broken;

// Every value in the tree, the way the bound counts them (a repeated key counts once here,
// so this is at most what the text holds).
std::size_t values_in(const Json& value) {
    std::size_t count = 1;
    for (const Json& item : value.array_items()) count += values_in(item);
    for (const auto& [key, item] : value.object_items()) count += values_in(item);
    return count;
}

// The readers on every node, which must never throw.
void read_all(const Json& value) {
    (void)value.number_value();
    (void)value.int_value();
    (void)value.int64_value();
    (void)value.bool_value();
    (void)value.string_value();
    (void)value[0];
    (void)value["id"];
    for (const Json& item : value.array_items()) read_all(item);
    for (const auto& [key, item] : value.object_items()) read_all(item);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    std::string err;
    const Json value = Json::parse(text, err);
    if (!err.empty()) {
        if (!value.is_null()) property_broken("a failed parse gave a value");
        std::string bounded_err;
        if (!Json::parse(text, bounded_err, 1000).is_null() || bounded_err.empty()) {
            property_broken("a bounded parse took what the full parse refused");
        }
        return 0;
    }
    read_all(value);

    // Under a bound below the values in the tree it fails; with room for all, it agrees.
    const std::size_t values = values_in(value);
    std::string bounded_err;
    if (!Json::parse(text, bounded_err, values - 1).is_null() || bounded_err.empty()) {
        property_broken("a parse bounded below " + std::to_string(values) + " values succeeded");
    }
    const Json bounded = Json::parse(text, bounded_err, values + text.size());
    if (!bounded_err.empty() || !(bounded == value)) property_broken("a bounded parse with room disagreed");

    const std::string once = value.dump();
    std::string again_err;
    const Json again = Json::parse(once, again_err);
    if (!again_err.empty()) property_broken("the dump does not parse: " + again_err);
    const std::string twice = again.dump();
    const Json third = Json::parse(twice, again_err);
    if (!again_err.empty() || third.dump() != twice) property_broken("the dump is not stable: " + twice);
    return 0;
}
