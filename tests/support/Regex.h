// <regex> for the tests, included in one place: GCC 12 with the address
// sanitizer reports std::regex's internal std::function as
// maybe-uninitialized, a false positive inside libstdc++ that -Werror would
// turn into a failed build.
#ifndef LYRANE_TEST_REGEX_H
#define LYRANE_TEST_REGEX_H

#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#include <regex>
#pragma GCC diagnostic pop

#endif
