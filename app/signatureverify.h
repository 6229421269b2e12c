// The manifest verification command: checks the signature of a signed
// manifest that lies in a file of its own (and, with -crl, the revocation
// state of its signer and timestamp authority), then every file it lists on
// disk.  It reports its outcome itself and sets the exit status (55 on any
// failure) instead of throwing; only an unreadable -crl file is thrown.
#pragma once

#include "app/command.h"

class CApplication;

class CSignatureVerify : public CCommand {
public:
    explicit CSignatureVerify(CApplication& application)
        : m_application(application)
    {
    }
    ~CSignatureVerify() override = default;
    void Execute() override;

private:
    CApplication& m_application;
};
