#pragma once

// What freed_memory_guard.cpp, linked into a test program, tells about a block of operator new.

namespace test {

/** True when p is a block of the guard's that has been deleted (its pages are unreadable). */
bool isDeleted(const void* p);

} // namespace test
