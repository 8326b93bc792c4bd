// Security descriptors for the fake kernel, through the user-mode security functions: this
// part cannot include the kernel's headers, so it uses plain types only.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace fake {

// A self-relative copy of a valid descriptor, absolute or self-relative; empty when invalid.
std::vector<uint8_t> SelfRelativeCopy(void* descriptor);

// The descriptor's SDDL text, limited to `parts` (SECURITY_INFORMATION bits).
std::string SecurityText(const std::vector<uint8_t>& descriptor, unsigned long parts);

} // namespace fake
