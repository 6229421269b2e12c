// Runs the run-time Unicode loader once in a fresh process, for
// icu_loader_test.py.  Arguments, in order of use: path DIR (additional
// directory), 7bit, allow or strict (the allowFailure argument), twice (load
// again), prof (loadIcuProf instead).  Prints one line:
//   result=R again=R2 common=S i18n=S flags=GBSNRICT level=L u16=L gmon=V
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "i18n/kovu16/nlsui_icu.h"
#include "i18n/kovu16/u16_diag.h"

int main(int argc, char** argv)
{
    int allow = 1;
    bool twice = false, prof = false;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "path") == 0 && i + 1 < argc)
            nlsui_setIcuPath(argv[++i]);
        else if (std::strcmp(argv[i], "7bit") == 0)
            nlsui_set7bitUnicode();
        else if (std::strcmp(argv[i], "strict") == 0)
            allow = 0x100;  // only the low byte counts
        else if (std::strcmp(argv[i], "twice") == 0)
            twice = true;
        else if (std::strcmp(argv[i], "prof") == 0)
            prof = true;
    }
    const int r = prof ? loadIcuProf() : loadIcuDo(allow);
    const int again = twice ? loadIcuDo(allow) : -9;
    char flags[NLSUI_ICU_GROUPS + 1] = {};
    for (int g = 0; g < NLSUI_ICU_GROUPS - 1; ++g)
        flags[g] = static_cast<char>('0' + nlsui_icuGroupLoaded(static_cast<NlsuiIcuGroup>(g)));
    const char* gmon = getenv("GMON_OUT_PREFIX");
    printf("result=%d again=%d common=%d i18n=%d flags=%s level=%d u16=%d gmon=%s\n", r, again, nlsui_icuCommonStatus(),
           nlsui_icuI18nStatus(), flags, nlsui_trace_level, u16_trace_level, gmon != nullptr ? gmon : "-");
    return 0;
}
