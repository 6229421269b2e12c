// The check-files command: lists the names of the file list that do not exist
// in "files.log".
#pragma once

#include "app/command.h"

class CScan : public CCommand {
public:
    CScan() = default;
    ~CScan() override = default;
    void Execute() override;
};
