// The HTTP reply reader over any source of bytes; SmfUtilReadHttpResponse
// runs it over a network handle or an SSL session.
#pragma once

#include "krn/snt/smfutil.h"

// A source returns SMFUTIL_OK with 0 < *got <= capacity bytes, SMFHTTP_END
// at the end of the data, or a reader result (after tracing its message).
inline constexpr int SMFHTTP_END = 100;
typedef int32_t (*SmfHttpReadFn)(void* source, unsigned char* buffer, int32_t capacity, int32_t* got);

int SmfHttpRead(SmfUtilMsg* msg, SmfHttpReadFn read, void* source, char** contentType, int32_t* bodyLength,
                unsigned char** body);
