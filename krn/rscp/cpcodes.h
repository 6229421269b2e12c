// Result codes and the code page identifier of the code page library.  Codes
// are single bits so that a caller can pass a mask of the codes it handles;
// 0 is success.  Memory the library could not get (its cache, a work buffer,
// the marks of a load) is RSCPENOMEM, which a mask holding RSCPEINTERN
// covers as well, as it did when memory failures were internal errors; a
// C++ allocation inside the library throws std::bad_alloc as anywhere else.
#pragma once

#include <cstdint>

inline constexpr uint32_t RSCP_OK = 0;
inline constexpr uint32_t RSCPEINTERN = 1;                // Some other internal error
inline constexpr uint32_t RSCPENOMEM = 2;                 // Not enough memory.
inline constexpr uint32_t RSCPEIO = 8;                    // Some I/O error.
inline constexpr uint32_t RSCPEINVAL = 16;                // Invalid arguments
inline constexpr uint32_t RSCPETOOLONG = 32;              // The data was longer than the buffer.
inline constexpr uint32_t RSCPECALL = 64;                 // Illegal mixture of procedure calls.
inline constexpr uint32_t RSCPENOOBJ = 128;               // No such object
inline constexpr uint32_t RSCPEBUSY = 256;                // Object is busy or locked
inline constexpr uint32_t RSCPEUNIQ = 512;                // Selects more than one object
inline constexpr uint32_t RSCPENOCONV = 2048;             // Wanted conversion not available.
inline constexpr uint32_t RSCPEBADO = 4096;               // A handle is invalid or corrupted.
inline constexpr uint32_t RSCPEODATA = 8192;              // There is no more data.
inline constexpr uint32_t RSCPEROLLBACK = 16384;          // There happened a data base roll back
inline constexpr uint32_t RSCP_ALL_ERRORS = 0xFFFFFFFFu;  // mask: every code returned

// A code page: four decimal digit characters, not NUL-terminated ("1100",
// "4110" UTF-8, "4102"/"4103" UTF-16 big/little endian); "0000" is none.
typedef char rscpCodePage[4];
