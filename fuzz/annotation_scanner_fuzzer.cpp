// The benchmark's annotation scanner on any comment text. Beyond the
// sanitizers it checks every token's form and order, and, for texts short
// enough for std::regex to search without exhausting the stack, that the
// tokens are exactly those of the search the scanner stands for.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <regex>
#include <string>
#include <string_view>
#include <vector>

#include "AnnotationScanner.h"

namespace {

// std::regex recurses per character of a match; this many stay well inside
// the stack, also with the address sanitizer's larger frames.
constexpr std::size_t kRegexLimit = 512;

void fail(const char* what) {
    std::fprintf(stderr, "annotation_scanner_fuzzer: %s\n", what);
    std::abort();
}

bool isToken(std::string_view token) {
    if (token.size() < 3 || token[0] < 'a' || token[0] > 'z' || token[1] != ' ')
        return false;
    for (std::size_t i = 2; i < token.size(); ++i) {
        if (token[i] < '0' || token[i] > '9')
            return false;
    }
    return true;
}

std::vector<std::string> regexTokens(const std::string& text) {
    static const std::regex token("[a-z] [0-9]+");
    std::vector<std::string> tokens;
    for (std::sregex_iterator it(text.begin(), text.end(), token), end; it != end; ++it)
        tokens.push_back(it->str());
    return tokens;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    std::vector<std::string> tokens;
    const char* previousEnd = text.data();
    lyrane::scanAnnotations(text, [&](std::string_view token) {
        if (!isToken(token))
            fail("a token of the wrong form");
        if (token.data() < previousEnd || token.data() + token.size() > text.data() + text.size())
            fail("tokens out of order or outside the text");
        const char* end = token.data() + token.size();
        if (end < text.data() + text.size() && *end >= '0' && *end <= '9')
            fail("a digit run cut short");
        previousEnd = end;
        tokens.emplace_back(token);
    });
    if (size <= kRegexLimit && tokens != regexTokens(text))
        fail("tokens differ from the regular expression's");
    return 0;
}
