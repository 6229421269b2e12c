// What the signed manifest tells of the crypto library's last failure.
#pragma once

#include "crypto/ssfload.h"

// The library's own text for the signer code (when not 0) or the call code:
// its first text when not empty, else its second, else the code's
// description; "SsfSupLastErrorInfo failed" when the library cannot be asked.
// A new text (malloc) the caller frees, or null when memory ran out.  The
// flag does not change the result.
char* SmfCryptoLastErrorText(SsfFuncContext* ctx, int flag, int callCode, int signerCode);
