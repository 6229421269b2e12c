// CRC-32 register update (reflected polynomial 0xEDB88320).
//
// The function runs the register over the bytes and nothing else: no inversion
// on entry or exit.  The stream registers of the compression library start at
// 0xFFFFFFFF and are complemented when finished; the archive checksum starts at
// 0 and is used as it is.
#pragma once

#include <cstddef>
#include <cstdint>

uint32_t CsCrc32Update(uint32_t reg, const void* data, size_t n);
