// What the application lends the old-format library: its log manager for the
// library's lines and the file-system tests of the free-space check.
#pragma once

#include <cstdint>
#include <string>

#include "oldformat/oldformat.h"

const OldFormatServices* ApplicationOldFormatServices();

// The old-format library's error number for missing free space; its own
// report has then been printed already.
inline constexpr uint32_t kOldFormatNoSpace = 34;

// One pass of the old-format library over archiveName, one of the archives
// the program's own expansion of the -f value gave (the library would expand
// that value by its own rules, without -g): the line "processing archive
// NAME...", then the pass with the options and names of the command line.
// False when the pass failed, errorNumber then holding the library's error
// number; its message was written, but for missing free space.
bool RunOldFormatPass(const std::string& archiveName, uint32_t& errorNumber);
