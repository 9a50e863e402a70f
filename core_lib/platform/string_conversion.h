// The text boundary towards the interface. Both sides hold UTF-8 here, so nothing is
// converted: a text is cut at its first NUL byte and must be valid UTF-8 to be delivered.
#pragma once

#include <optional>
#include <string>

namespace vandrel {

// True for well-formed UTF-8: no stray or missing continuation bytes, no overlong
// forms, no surrogates (U+D800..U+DFFF), nothing above U+10FFFF.
bool is_valid_utf8(const std::string& text);

// The text up to (not including) its first NUL byte; the whole text when it has none.
std::string cut_at_first_nul(std::string text);

// The text as the interface receives it (cut at the first NUL), or nothing when what
// remains is not valid UTF-8 and so cannot be delivered.
std::optional<std::string> text_for_ui(std::string text);

}  // namespace vandrel
