// Numbered errors of the old-format library and their fixed texts.
#include <cstring>

#include "oldformat/ofinternal.h"
#include "oldformat/shownname.h"

namespace {

struct ErrorText {
    uint32_t number;
    const char* text;
    bool withErrno;  // message ends with the system's text on a new line
};

constexpr ErrorText kTexts[] = {
    {1, "can't create directory", true},
    {2, "directory name is too long:", false},
    {3, "can't create filename for", false},
    {5, "can't allocate memory", false},
    {6, "needed parameter is null", false},
    {7, "can't use permission", false},
    {8, "format error in exclude-file (X-option)", false},
    {9, "format error in include-file (A-option)", false},
    {10, "format error in include-file (T-option)", false},
    {11, "can't compress", false},
    {12, "format error in header", false},
    {13, "can't decompress", false},
    {14, "checksum error", false},
    {15, "can't change permission of file", true},
    {16, "can't change date of file", true},
    {17, "can't change permission of directory", true},
    {18, "can't change date of directory", true},
    {19, "can't query current working directory", true},
    {20, "use option only once", false},
    {21, "option without filename specified", false},
    {22, "option unknown", false},
    {23, "first specify the command", false},
    {24, "don't use C-option together with P-option", false},
    {25, "use C-option only with create", false},
    {26, "use T-option only with create", false},
    {27, "use X-option only with create", false},
    {28, "p-options needs an octal value", false},
    {29, "can't open for writing:", true},
    {30, "no filename(s) specified", false},
    {31, "can't read archive because it is protected, use -K option", false},
    {33, "use R-option only with extract", false},
    {35, "use s-option only with extract or list content", false},
    {36, "file is larger than 2 GB", false},
    {37,
     "Archive seems to be corrupt (more bytes requested for decompress than are left "
     "in the archive); archive is",
     false},
};

const ErrorText* Find(uint32_t number)
{
    for (const ErrorText& t : kTexts)
        if (t.number == number)
            return &t;
    return nullptr;
}

}  // namespace

const char* OfErrorText(uint32_t number)
{
    const ErrorText* t = Find(number);
    return t ? t->text : nullptr;
}

void OfSetError(OfError& error, uint32_t number, const char* name, int err)
{
    error.number = number;
    std::string msg;
    const ErrorText* t = Find(number);
    if (number == OF_E_SYSTEM)
        msg = std::strerror(err);
    else if (t)
        msg = t->text;
    if (name) {
        if (!msg.empty())
            msg += ' ';
        KovAppendShown(msg, name);
    }
    if (t && t->withErrno) {
        msg += '\n';
        msg += std::strerror(err);
    }
    error.message = std::move(msg);
}

void OfSetErrorText(OfError& error, uint32_t number, std::string message)
{
    error.number = number;
    error.message = std::move(message);
}

void OfClearError(OfError& error)
{
    error.number = 0;
    error.message.clear();
}
