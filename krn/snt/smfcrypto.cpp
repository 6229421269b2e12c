// The crypto library's last error as one text for the manifest's messages.
#include "krn/snt/smfcrypto.h"

#include <cstdlib>
#include <cstring>
#include <string>

char* SmfCryptoLastErrorText(SsfFuncContext* ctx, int flag, int callCode, int signerCode)
{
    (void)flag;
    const int code = signerCode != 0 ? signerCode : callCode;
    int toolkitCode = 0;
    char* text = nullptr;
    char* text2 = nullptr;
    uint32_t textLength = 0;
    uint32_t text2Length = 0;
    const char* chosen = "SsfSupLastErrorInfo failed";
    if (SsfSupLastErrorInfo(ctx, code, &toolkitCode, &text, &textLength, &text2, &text2Length) == 0) {
        if (text && *text)
            chosen = text;
        else if (text2 && *text2)
            chosen = text2;
        else
            chosen = SsfErrorDescription(code);
    }
    // The library's text may quote what the caller gave it (a key store
    // path) as it stands: it is recorded as shown, on one line.
    const std::string shown = SsfShownName(chosen, std::strlen(chosen));
    char* copy = strdup(shown.c_str());
    std::free(text);
    std::free(text2);
    return copy;
}
