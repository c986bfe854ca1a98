// The regular expressions the library builds from text it does not control: the lines of an
// ignore file and the names a user types. Internal to the library.
#pragma once

#include <regex>
#include <string>

namespace common {

// A std::regex (ECMAScript, no other flag) compiled from `pattern`, the narrow text of `size`
// bytes. Throws std::regex_error when the text is no valid ECMAScript pattern, including one that
// puts a quantifier right after another ("a**", "x+*", ".**.dwg"; the lazy mark in "a*?" is no
// quantifier): ECMAScript refuses those, while the standard library accepts them as nested
// repetitions whose matching takes time exponential in the subject's length. A repeat count or
// back-reference number of more than nine digits is refused too: the standard library would
// overflow reading it.
std::regex compileEcmaScript(const char* pattern, std::size_t size);

}  // namespace common
