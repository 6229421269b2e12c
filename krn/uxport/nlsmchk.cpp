// Module identification of the NLS layer.
#include "krn/uxport/nlsmchk.h"

const char* nlsmchk_what()
{
    return "@(#) nlsmchk  libkovu16.0001.0025";
}

int nlsmchk_check()
{
    return 0;
}

void nlsmchk_noop() { }
