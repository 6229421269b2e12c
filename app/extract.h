// The extract and test commands (x, d): one loop over the archives named with
// -f and over their entries.  Extraction creates files, directories and links
// and afterwards gives them their stored times and permissions; testing reads
// and checks every selected entry and writes nothing.
#pragma once

#include <cstdint>

#include "app/command.h"

class CApplication;

class CExtract : public CCommand {
public:
    explicit CExtract(CApplication& application)
        : m_application(application)
    {
    }
    void Execute() override;

private:
    CApplication& m_application;
};
