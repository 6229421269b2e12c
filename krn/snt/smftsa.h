// The timestamp client's HTTP exchange: carries a timestamp request to the
// authority named by a URL (http or https, directly or through a proxy) and
// reads its reply.  SmfUtilTimestampRequest wraps it between the crypto
// library's making of the request and its merging of the reply.
#pragma once

#include <cstdint>

#include "krn/snt/smfutil.h"

inline constexpr char SMFTSA_QUERY_TYPE[] = "application/timestamp-query";
inline constexpr char SMFTSA_REPLY_TYPE[] = "application/timestamp-reply";

// Sends the request as an HTTP/1.0 POST and returns the reply's body in
// *reply (a guarded block of *replyLength bytes, the caller frees it).
// Returns 0, -1 or the client's codes 1 to 11 (smfutil.h); every failure's
// message is collected in msg.
int SmfTsaExchange(SmfUtilMsg* msg, const char* tsaUrl, const char* proxyUrl, const unsigned char* request,
                   int32_t requestLength, unsigned char** reply, int32_t* replyLength);
