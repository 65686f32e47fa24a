// Finds the event annotations of a recording's comment: tokens of one
// lower-case ASCII letter, one blank and one or more decimal digits, e.g.
// "f 100". Internal to LyraneBenchmark; not installed.
//
// The tokens are those a left-to-right search for the pattern
// "[a-z] [0-9]+" yields, each search starting after the previous token, with
// every digit run taken whole. The scan is one loop over the text, so a
// comment of any length (libsndfile hands FLAC comments over whole) costs
// time in proportion to its length and no stack.
#ifndef LYRANE_ANNOTATIONSCANNER_H
#define LYRANE_ANNOTATIONSCANNER_H

#include <cstddef>
#include <string_view>

namespace lyrane {

// Calls onToken(std::string_view token) for every token of text, in order;
// the view points into text.
template <typename OnToken>
void scanAnnotations(std::string_view text, OnToken&& onToken) {
    // Byte tests by code, so bytes of other encodings never match.
    const auto isLetter = [](char c) { return c >= 'a' && c <= 'z'; };
    const auto isDigit = [](char c) { return c >= '0' && c <= '9'; };
    std::size_t at = 0;
    while (at + 2 < text.size()) {
        if (!isLetter(text[at]) || text[at + 1] != ' ' || !isDigit(text[at + 2])) {
            ++at;
            continue;
        }
        std::size_t end = at + 3;
        while (end < text.size() && isDigit(text[end])) {
            ++end;
        }
        onToken(text.substr(at, end - at));
        at = end;
    }
}

}  // namespace lyrane

#endif
