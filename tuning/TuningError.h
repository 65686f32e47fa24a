// The one kind of failure the tuning program reports: bad input. The text is
// the whole message for the user and names the file at fault.
#ifndef LYRANE_TUNING_TUNINGERROR_H
#define LYRANE_TUNING_TUNINGERROR_H

#include <stdexcept>
#include <string>

class TuningError : public std::runtime_error {
  public:
    explicit TuningError(const std::string& message) : std::runtime_error(message) {}
};

#endif  // LYRANE_TUNING_TUNINGERROR_H
