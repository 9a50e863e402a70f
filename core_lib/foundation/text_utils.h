// Byte-string helpers for cutting, cleaning, comparing and joining text and taking
// paths apart. Stateless and thread-safe; no locale beyond ASCII case mapping.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace vandrel {

// Replaces every occurrence of `from` in `text` by `to`, resuming after each inserted
// replacement so inserted text is never searched again. An empty `from` changes nothing.
void replace_all(std::string& text, const std::string& from, const std::string& to);

// Copy of `text` with `pattern` removed until it no longer occurs, including occurrences
// that form anew when a removal joins the text around it. An empty pattern gives a copy.
std::string erase_all(std::string text, const std::string& pattern);

// Fields between separators, empty fields kept; never an empty list. An empty separator
// gives the whole text as one field.
std::vector<std::string> split(const std::string& text, const std::string& separator);

// Copy without leading and trailing ' ' bytes (other white space stays).
std::string trim(std::string text);

// Copy with 'A'..'Z' made 'a'..'z'; every other byte unchanged.
std::string to_lower(std::string text);

// True when `text` begins with `prefix`, byte for byte; an empty prefix gives true.
bool starts_with(const std::string& text, const std::string& prefix);

// Items with `separator` between each two; "" for no items.
std::string join_strings(const std::vector<std::string>& items, const std::string& separator);

// Path up to and including its last '/' or '\\'; "" when it has neither.
std::string parent_folder_of_path(const std::string& path);

// Part of the path after its last '/' or '\\'; the whole path when it has neither.
std::string file_name_of_path(const std::string& path);

// Decodes UTF-8 into one 16-bit unit per code point. Throws std::range_error
// "bad conversion" on invalid UTF-8 (stray or missing continuation bytes, overlong
// forms, surrogates, values above U+10FFFF) and on code points above U+FFFF, which
// no single 16-bit unit can hold.
std::u16string utf8_to_wstring(const std::string& text);

// The length of the well-formed UTF-8 character at text[i] (1 to 4), or 0 when the
// bytes there start none (stray or missing continuation bytes, overlong forms,
// surrogates, values above U+10FFFF); its code point goes to `code` when given.
std::size_t utf8_char_at(const std::string& text, std::size_t i, char32_t* code = nullptr);

// The longest prefix of the text within max_bytes that does not end inside a UTF-8
// character (continuation bytes after the cut are left out with their lead byte).
std::string cut_utf8(const std::string& text, std::size_t max_bytes);

}  // namespace vandrel
