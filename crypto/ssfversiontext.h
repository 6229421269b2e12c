// Reading the version text of a crypto library without a version record.
#pragma once

#include <cstdint>
#include <string>

namespace ssfsup {

// A text of at least 31 characters that names both "TELMIR" and
// "KOVTELMIRLIB" and, after "TELMIR", "Version " with a token ended by a
// blank becomes "KOVTELMIRLIB Version <token>"; any other text stays.
std::string RewriteVersionText(const std::string& text);

// From a text of at least 31 characters with "KOVTELMIRLIB", "TELMIR" and
// "Version 1.": the version is the number after "Version 1." up to the next
// ".", the patch level the digits after that "." (only when a blank follows
// later).  Outs are set only when read; either may be NULL.
void ParseVersionText(const std::string& text, uint32_t* version, uint32_t* patchLevel);

}  // namespace ssfsup
