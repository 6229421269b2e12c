// Anything that can be shown to the user: exceptions, the usage text, an
// entry's listing line, the disk-space report and the run statistics.  The log
// manager asks the object for its text and writes that text as one line.
#pragma once

#include <string>

class CUserInfo {
public:
    // A new text holding what is to be shown; the caller owns the result.
    virtual std::string GetText() const = 0;
    virtual ~CUserInfo() = default;

protected:
    CUserInfo() = default;
    CUserInfo(const CUserInfo&) = default;
    CUserInfo& operator=(const CUserInfo&) = default;
};
