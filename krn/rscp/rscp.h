// Conversion of names between UTF-8 and the local code page ("1100", ISO-8859-1
// in this build).  A character the target cannot hold, and a broken UTF-8
// sequence, become the substitution character "#".
#pragma once

#include <cstddef>

// Return codes.
constexpr int RSCP_OK = 0;
constexpr int RSCPETOOLONG = 32;   // destination too small
constexpr int RSCPEINVAL = 22;     // missing argument

// Converts the NUL-terminated UTF-8 string src into the local code page.  dst
// and src may be the same buffer.  The result is NUL-terminated; *outLen (when
// not null) gets its length without the NUL.  RSCPETOOLONG when the result and
// its NUL do not fit into dstSize bytes (dst then holds an empty string).
int Utf8nToUcnCPInPlace(char* dst, std::size_t dstSize, std::size_t* outLen, const char* src);

// Converts the NUL-terminated local-code-page string src into UTF-8; at most
// dstSize - 1 bytes and a NUL are written; *outLen excludes the NUL.
// RSCPETOOLONG when the result does not fit (dst then holds an empty string).
int UcnToUtf8nCPStr(char* dst, std::size_t dstSize, std::size_t* outLen, const char* src);
