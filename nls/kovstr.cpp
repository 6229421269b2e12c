// Bounded string and memory functions.  All scanning is done by the C
// library's strnlen/memchr/strspn/strcspn, which are vectorised yet never read
// past the bound or the terminator they are given.
#include "nls/kovstr.h"

#include <cerrno>
#include <cstring>

size_t strnlenR(const char* s, size_t max) {
  return max == 0 ? 0 : ::strnlen(s, max);
}

int strcpy_sR(char* dst, size_t dstsize, const char* src) {
  if (dstsize == 0) return 0;
  const size_t len = ::strnlen(src, dstsize);
  if (len < dstsize) {
    std::memcpy(dst, src, len + 1);
    return 0;
  }
  // No terminator within dstsize: what fitted is copied, the result is empty.
  std::memcpy(dst, src, dstsize);
  dst[0] = '\0';
  return KOV_ERANGE;
}

int strcat_sR(char* dst, size_t dstsize, const char* src) {
  const size_t len = strnlenR(dst, dstsize);
  if (len == dstsize) return KOV_ERANGE;
  const size_t room = dstsize - len;  // >= 1, terminator included
  const size_t slen = ::strnlen(src, room);
  if (slen < room) {
    std::memcpy(dst + len, src, slen + 1);
    return 0;
  }
  std::memcpy(dst + len, src, room);
  dst[0] = '\0';
  return KOV_ERANGE;
}

int strncpy_sR(char* dst, size_t dstsize, const char* src, size_t count) {
  if (dstsize == 0) return 0;
  // Any count, SIZE_MAX included, is bounded by the room for text.
  const size_t maxlen = count < dstsize - 1 ? count : dstsize - 1;
  const size_t len = maxlen == 0 ? 0 : ::strnlen(src, maxlen);
  std::memcpy(dst, src, len);
  dst[len] = '\0';
  return 0;
}

int strncat_sR(char* dst, size_t dstsize, const char* src, size_t count) {
  const size_t len = strnlenR(dst, dstsize);
  if (len == dstsize) return KOV_ERANGE;
  const size_t room = dstsize - len;
  if (room <= count && ::strnlen(src, room) == room) {
    dst[0] = '\0';
    return KOV_ERANGE;
  }
  if (count == 0) return 0;
  // Here either count < room, or src ends within room - 1 bytes: the text and
  // its terminator fit.
  const size_t add = ::strnlen(src, count);
  std::memcpy(dst + len, src, add);
  dst[len + add] = '\0';
  return 0;
}

char* strtok_sR(char* str, const char* delim, char** context) {
  if (str == nullptr) {
    str = *context;
    if (str == nullptr) {
      errno = KOV_EINVAL;
      return nullptr;
    }
  }
  str += std::strspn(str, delim);
  if (*str == '\0') {
    *context = nullptr;
    return nullptr;
  }
  char* end = str + std::strcspn(str, delim);
  if (*end != '\0') {
    *end = '\0';
    *context = end + 1;
  } else {
    *context = nullptr;
  }
  return str;
}

int memcpy_sR(void* dst, size_t dstsize, const void* src, size_t count) {
  if (count > dstsize) {
    if (dstsize != 0) std::memset(dst, 0, dstsize);
    return KOV_ERANGE;
  }
  if (count != 0) std::memcpy(dst, src, count);
  return 0;
}

int memmove_sR(void* dst, size_t dstsize, const void* src, size_t count) {
  if (count > dstsize) {
    if (dstsize != 0) std::memset(dst, 0, dstsize);
    return KOV_ERANGE;
  }
  if (count != 0) std::memmove(dst, src, count);
  return 0;
}
