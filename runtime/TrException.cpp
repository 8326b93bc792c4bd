#include "TrException.h"

namespace Tr {

Exception::Exception(const TString& text) : std::exception(), message(text)
{
}

Exception::Exception(const Exception& other) : std::exception(other), message(other.message)
{
}

Exception::~Exception() = default;

const char* Exception::what() const noexcept
{
  return message.text();
}

} // namespace Tr
