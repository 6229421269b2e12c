// Base of the command objects (create, extract, list, merge, check files,
// signature verification).  The application builds one per process, calls
// Execute once and deletes it.
#pragma once

class CCommand {
public:
    virtual ~CCommand() = default;
    // Runs the command; failures are thrown as CExcept.
    virtual void Execute() = 0;

protected:
    CCommand() = default;
    CCommand(const CCommand&) = delete;
    CCommand& operator=(const CCommand&) = delete;
};
