#include "TrCString.h"

#include <cctype>
#include <climits>
#include <cstring>

namespace Tr {

char toUpper(char c)
{
  const int widened = static_cast<signed char>(c);
  if (widened < 0) {
    return c;
  }
  return static_cast<char>(std::toupper(widened));
}

void copyBytes(void* destination, const void* source, int count)
{
  if (count > 0) {
    std::memcpy(destination, source, static_cast<size_t>(count));
  }
}

int length(const char* text)
{
  if (text == nullptr) {
    return 0;
  }
  return static_cast<int>(std::strlen(text));
}

int lengthBounded(const char* text, int maximum)
{
  if (text == nullptr) {
    return 0;
  }
  if (maximum <= 0) {
    return maximum;
  }
  int n = 0;
  while (n < maximum && text[n] != 0) {
    n++;
  }
  return n;
}

int compare(const char* a, const char* b)
{
  const auto* ua = reinterpret_cast<const unsigned char*>(a);
  const auto* ub = reinterpret_cast<const unsigned char*>(b);
  for (;; ua++, ub++) {
    if (*ua != *ub) {
      return *ua < *ub ? -1 : 1;
    }
    if (*ua == 0) {
      return 0;
    }
  }
}

int compareLimited(const char* a, const char* b)
{
  return std::strncmp(a, b, INT_MAX);
}

} // namespace Tr
