#pragma once

#include "TrString.h"

#include <exception>

namespace Tr {

/** The library's one exception type: its message is a TString that shares its text with the
    string it was made from. Thrown by value, caught by reference. */
class Exception : public std::exception {
public:
  explicit Exception(const TString& message);
  Exception(const Exception& other);
  Exception& operator=(const Exception& other) = default;
  ~Exception() override;

  /** The message's text; never null, valid as long as this exception. */
  const char* what() const noexcept override;

private:
  TString message;
};

} // namespace Tr
