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

    // Files the old-format library extracted (written by CExtractOld).
    uint32_t oldFilesDone = 0;

private:
    CApplication& m_application;
};

// Runs the old-format library once per process with the whole command line.
class CExtractOld : public CCommand {
public:
    CExtractOld(CApplication& application, CExtract& owner)
        : m_application(application),
          m_owner(&owner)
    {
    }
    void Execute() override;

private:
    CApplication& m_application;
    CExtract* m_owner;
};

// Set by the first old-format run of the process.
extern bool oldFormatExtractionDone;
