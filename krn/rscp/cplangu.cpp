// Language-dependent code pages: the families 61xx, 62xx and 65xx stand for a
// code page whose real member depends on the language; the resolvers pick it
// from the converter's language key and, for some languages, from the code
// page the host gives for that language.  Also the space classes.
#include <cstring>

#include "krn/rscp/cpobject.h"

namespace {

bool In(char c, const char* set)
{
    return c != '\0' && std::strchr(set, c) != nullptr;
}
bool Begins(const char* r, const char* prefix)
{
    return std::strncmp(r, prefix, std::strlen(prefix)) == 0;
}

// Asks the host for the code page of a language: true with it in r (and in
// the third code page output), after marking the result ambiguous.
bool AskHost(char langu, char* r, uint8_t* ambiguous, char* thirdCp)
{
    if (ambiguous != nullptr)
        *ambiguous = 1;
    std::memcpy(r, "0000", 4);
    r[4] = '\0';
    const char key[2] = {langu, '\0'};
    if (rscph_HookTable.EnvCodePage(r, key) != 0)
        return false;
    if (thirdCp != nullptr)
        std::memcpy(thirdCp, r, 4);
    return true;
}

// 61xx on the input side; nullptr leaves the code page as it is.
const char* Family61In(char l, uint8_t* amb, char* third)
{
    if (In(l, "456CHLQd"))
        return "6120";
    if (l == 'G')
        return "6170";
    if (l == 'J')
        return "6101";
    if (l == 'T')
        return "6190";
    if (In(l, "FIKNOPSUVabc"))
        return "6110";
    if (!In(l, "7DEi"))
        return nullptr;
    char r[5];
    if (!AskHost(l, r, amb, third))
        return "6110";
    if (Begins(r, "611") || Begins(r, "11"))
        return "6110";
    if (Begins(r, "612") || Begins(r, "14"))
        return "6120";
    if (Begins(r, "613"))
        return "6130";
    if (Begins(r, "614") || Begins(r, "19"))
        return "6140";
    if (Begins(r, "617") || Begins(r, "17"))
        return "6170";
    if (Begins(r, "80"))
        return "6180";
    if (Begins(r, "619") || Begins(r, "161"))
        return "6190";
    return "6110";
}

const char* Family62(char l, uint8_t* amb, char* third)
{
    if (l == '1')
        return "6240";
    if (l == '3')
        return "6250";
    if (l == 'J')
        return "6280";
    if (l == 'M')
        return "6230";
    if (!In(l, "7Ei"))
        return nullptr;
    char r[5];
    if (!AskHost(l, r, amb, third) || r[0] != '8')
        return "6101";
    if (Begins(r, "80"))
        return "6280";
    if (Begins(r, "83"))
        return "6230";
    if (Begins(r, "84"))
        return "6240";
    if (Begins(r, "85"))
        return "6250";
    return "6101";
}

const char* Family65In(char l, uint8_t* amb, char* third)
{
    if (l == 'G')
        return "6570";
    if (l == 'J')
        return "6101";
    if (In(l, "FIKNOPSUVabc"))
        return "6510";
    if (!In(l, "7DEi"))
        return nullptr;
    char r[5];
    if (AskHost(l, r, amb, third) && (Begins(r, "657") || Begins(r, "17")))
        return "6570";
    return "6510";
}

const char* Family61Out(char l)
{
    if (l == 'T')
        return "6103";
    if (In(l, "4567CDEFGHIJKLNOPQSUVabcdi"))
        return "6102";
    return nullptr;
}

// Family digit of a code page of the 6 families, or 0.
char Family(const char* cp)
{
    return cp[0] == '6' && (cp[1] == '1' || cp[1] == '2' || cp[1] == '5') ? cp[1] : 0;
}

void Resolve(char* out4, const char* cp, char langu, uint8_t* amb, char* third, bool input)
{
    std::memcpy(out4, cp, 4);
    const char family = Family(cp);
    if (family == 0)
        return;
    if (amb != nullptr)
        *amb = 0;
    const char* r = nullptr;
    if (family == '1')
        r = input ? Family61In(langu, amb, third) : Family61Out(langu);
    else if (family == '2')
        r = Family62(langu, amb, third);
    else
        r = input ? Family65In(langu, amb, third) : "6502";
    if (r != nullptr)
        std::memcpy(out4, r, 4);
}

}  // namespace

void rscpResolveInCodePage(char* out4, const char* cp, char langu, uint8_t* ambiguous, char* thirdCp4)
{
    Resolve(out4, cp, langu, ambiguous, thirdCp4, true);
}

void rscpResolveOutCodePage(char* out4, const char* cp, char langu, uint8_t* ambiguous, char* thirdCp4)
{
    Resolve(out4, cp, langu, ambiguous, thirdCp4, false);
}

uint32_t rscpRefineAsianUniKind(uint32_t kind, char langu)
{
    if (kind != 39)
        return kind;
    switch (langu) {
    case 'J':
        return 3;
    case 'M':
        return 34;
    case '1':
        return 35;
    case '3':
        return 36;
    default:
        return 39;
    }
}

int32_t rscpSpaceClass(const uint8_t* s, int32_t length)
{
    switch (length) {
    case 1:
        return s[0] == 0x20 ? 3 : s[0] == 0x40 ? 4 : 0;
    case 2:
        return s[0] == 0x20 ? 6 : s[1] == 0x20 ? 7 : 0;
    case 4:
        return s[0] == 0x20 ? 8 : s[3] == 0x20 ? 9 : 0;
    default:
        return 0;
    }
}

int32_t rscpCodePageFamily(const rscpCpInfo_t* info)
{
    const int32_t cls = rscpSpaceClass(info->space, static_cast<int32_t>(info->spaceLen));
    const uint16_t k = info->major;
    if (cls == 7 && k == 19)
        return 1;
    if (cls == 3 && (k == 1 || k == 2 || k == 3 || k == 30 || k == 34 || k == 35 || k == 36 || k == 39))
        return 2;
    if (cls == 3 && k == 12)
        return 5;
    return cls;
}
