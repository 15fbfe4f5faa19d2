#include "tools/rire-host/suggest.h"

#include <algorithm>

namespace rire_host {
namespace {

// Optimal string alignment distance: edits plus neighbour swaps.
size_t distance(const std::string &a, const std::string &b) {
    std::vector<std::vector<size_t>> d(a.size() + 1, std::vector<size_t>(b.size() + 1));
    for (size_t i = 0; i <= a.size(); i++)
        d[i][0] = i;
    for (size_t j = 0; j <= b.size(); j++)
        d[0][j] = j;
    for (size_t i = 1; i <= a.size(); i++)
        for (size_t j = 1; j <= b.size(); j++) {
            const size_t cost = a[i - 1] == b[j - 1] ? 0 : 1;
            d[i][j] = std::min({d[i - 1][j] + 1, d[i][j - 1] + 1, d[i - 1][j - 1] + cost});
            if (i > 1 && j > 1 && a[i - 1] == b[j - 2] && a[i - 2] == b[j - 1])
                d[i][j] = std::min(d[i][j], d[i - 2][j - 2] + 1);
        }
    return d[a.size()][b.size()];
}

} // namespace

std::optional<std::string> nearest(const std::string &word,
                                   const std::vector<std::string> &choices) {
    const size_t limit = std::clamp<size_t>(word.size() / 3, 1, 3);
    std::optional<std::string> best;
    size_t best_distance = limit + 1;
    for (const std::string &choice : choices)
        if (const size_t d = distance(word, choice); d < best_distance && choice != word) {
            best = choice;
            best_distance = d;
        }
    return best;
}

std::string did_you_mean(const std::string &word, const std::vector<std::string> &choices) {
    const auto near = nearest(word, choices);
    return near ? "; did you mean '" + *near + "'?" : "";
}

} // namespace rire_host
