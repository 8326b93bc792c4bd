#pragma once

// Primitives on 8-bit, NUL-terminated C strings that the rest of the library builds on.

namespace Tr {

/** The C run-time's toupper of the char widened as a signed value. Bytes 0x80 to 0xFF come out
    unchanged: toupper is undefined for the negative values they widen to. */
char toUpper(char c);

/** Copies count bytes; a count of 0 or less copies nothing. */
void copyBytes(void* destination, const void* source, int count);

/** The number of chars before the NUL; a null string gives 0. */
int length(const char* text);

/** As length, but scans no more than maximum chars. A null string gives 0 and a maximum of 0
    or less is itself the result. */
int lengthBounded(const char* text, int maximum);

/** Byte-wise comparison with bytes taken as unsigned: -1, 0 or 1. */
int compare(const char* a, const char* b);

/** strncmp with the largest int32 as its limit: negative, 0 or positive. */
int compareLimited(const char* a, const char* b);

} // namespace Tr
