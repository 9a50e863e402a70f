// The device's made-up alias: one adjective, one space, one animal, drawn through
// random_int from two constant word tables.
#pragma once

#include <span>
#include <string>
#include <string_view>

namespace vandrel {

// 253 entries ("Brave" and "Pleasant" twice each, so drawn twice as often).
std::span<const std::string_view> alias_adjectives();
// 145 distinct entries.
std::span<const std::string_view> alias_animals();

// Adjective drawn first, then the animal; at most 25 characters.
std::string random_alias();

}  // namespace vandrel
