// The nearest word to a user's slip ("hw-dnoe" -> "hw-done"), for the
// "did you mean" of error messages. Distance counts insertions, deletions,
// substitutions and swaps of two neighbouring characters; a word further than
// a third of its length (at least 1, at most 3) from every choice has none.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace rire_host {

std::optional<std::string> nearest(const std::string &word,
                                   const std::vector<std::string> &choices);

// "; did you mean 'WORD'?" for the nearest choice, or nothing.
std::string did_you_mean(const std::string &word, const std::vector<std::string> &choices);

} // namespace rire_host
