// What the application lends the old-format library: its log manager for the
// library's lines and the file-system tests of the free-space check.
#pragma once

#include "oldformat/oldformat.h"

const OldFormatServices* ApplicationOldFormatServices();
