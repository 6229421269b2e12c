// Module identification of the NLS layer.
#pragma once

// The module's identification string.
const char* nlsmchk_what();
// Entry points kept for the module's callers; they do nothing.
int nlsmchk_check();
void nlsmchk_noop();
