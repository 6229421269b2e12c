// What the signed manifest tells of the crypto library's last failure, and
// the length of a text as the library takes it.
#pragma once

#include <cstdint>
#include <cstring>

#include "crypto/ssfload.h"

// Length of a text handed to the crypto library; 0 for null.
inline uint32_t SmfLen(const char* text)
{
    return text != nullptr ? static_cast<uint32_t>(std::strlen(text)) : 0;
}

// The library's own text for the signer code (when not 0) or the call code:
// its first text when not empty, else its second, else the code's
// description; "SsfSupLastErrorInfo failed" when the library cannot be asked.
// The text is shown as SsfShownName shows a name: no control byte of it,
// not even a line feed, reaches a report.
// A new text (malloc) the caller frees, or null when memory ran out.  The
// flag does not change the result.
char* SmfCryptoLastErrorText(SsfFuncContext* ctx, int flag, int callCode, int signerCode);
