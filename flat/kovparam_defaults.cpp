// The compiled-in tables of the profile-parameter library: defaults, the two
// overrides, "(Default)" compositions and the command-line aliases.
#include "flat/kovparam_int.h"

const char kKovParamUnknown[] = "(not_in_kovparam)";

const char kKovParamPropertiesName[] = "j2ee/instance_properties";
const char kKovParamPropertiesJava[] = "$(DIR_EXECUTABLE)$(DIR_SEP)jinst.properties";

// Directory parameters composed from a parent directory ("__1_") and a
// folder name ("__2_").
#define KOV_COMPOSED_DIR(X, parent, folder) {X, "(Default)"}, {"__1_" X, parent}, {"__2_" X, folder},

const KovParamDefault kKovParamDefaults[] = {
    // The library's own state; the initialisation points these records at
    // buffers it keeps up to date.
    {"__KOVPROFILE_n_DEFAULT", ""},
    {"__KOVPROFILE_n_PF_FILE", ""},
    {"__KOVPROFILE_C", "kovparam: profile parameters from flat files, compiled-in defaults"},
    {"__KOVPROFILE_CALLS", ""},
    {"__KOVPROFILE_CALL_LAST_NAME", ""},
    {"__KOVPROFILE_MALLOCS", ""},
    {"__KOVPROFILE_DEFAULT", ""},
    {"KOVPROFILE_IN_EFFECT", ""},
    {"KOVSYSTEMNAME", ""},
    {"KOVLOCALHOST", ""},
    {"KOVLOCALHOSTFULL", ""},
    {"KOVARGC", ""},
    {"KOVARGV", ""},
    {"j2ee/phys_memsize", ""},
    {"j2ee/cpu_count", ""},

    // System and instance.
    {"KOVSYSTEM", "$$"},
    {"KOVPROFILE", ""},
    {"KOVDBHOST", ""},
    {"KOVMSHOST", ""},
    {"KOVDIAHOST", ""},
    {"OS_UNICODE", "uc"},
    {"INSTANCE_NAME", "$(INSTANCE_SRVTYPE)$$"},
    {"INSTANCE_SRVTYPE", "D"},
    {"WP_ID", ""},
    {"EXETYPE", "run"},
    {"GetDsCtrl", ""},
    {"KOVon", "KOVonSYS5 KOVonSYS5_4 KOVonUNIX "},
    {"system/type", "STD"},

    // Directories.
    {"DIR_SEP", "/"},
    {"DIR_INSTALL", "$(DIR_SEP)usr$(DIR_SEP)kov$(DIR_SEP)$(KOVSYSTEMNAME)$(DIR_SEP)SYS"},
    {"DIR_INSTANCE", "$(DIR_SEP)usr$(DIR_SEP)kov$(DIR_SEP)$(KOVSYSTEMNAME)$(DIR_SEP)$(INSTANCE_NAME)"},
    {"DIR_EXECUTABLE", "$(DIR_INSTANCE)$(DIR_SEP)exe"},
    {"DIR_GEN", "$(DIR_INSTANCE)$(DIR_SEP)gen"},
    KOV_COMPOSED_DIR("DIR_PROFILE", "$(DIR_INSTALL)", "profile") KOV_COMPOSED_DIR("DIR_HOME", "$(DIR_INSTANCE)", "work")
        KOV_COMPOSED_DIR("DIR_DATA", "$(DIR_INSTANCE)", "data") KOV_COMPOSED_DIR(
            "DIR_EXE_ROOT", "$(DIR_INSTALL)", "exe") KOV_COMPOSED_DIR("DIR_GEN_ROOT", "$(DIR_INSTALL)", "gen")
            KOV_COMPOSED_DIR("DIR_GLOBAL", "$(DIR_INSTALL)", "global") KOV_COMPOSED_DIR(
                "DIR_AUDIT", "$(DIR_INSTANCE)", "log") KOV_COMPOSED_DIR("DIR_LOGGING", "$(DIR_INSTANCE)", "log")
                KOV_COMPOSED_DIR("DIR_TRACE", "$(DIR_INSTANCE)", "work") KOV_COMPOSED_DIR(
                    "DIR_TEMP", "$(DIR_INSTANCE)", "tmp") KOV_COMPOSED_DIR("DIR_SECURITY", "$(DIR_INSTANCE)", "sec")
                    KOV_COMPOSED_DIR("DIR_CACHE", "$(DIR_INSTANCE)", "cache") KOV_COMPOSED_DIR(
                        "DIR_SPOOL", "$(DIR_INSTANCE)", "spool") KOV_COMPOSED_DIR("DIR_ROLL", "$(DIR_INSTANCE)", "data")
                        KOV_COMPOSED_DIR("DIR_PAGING", "$(DIR_INSTANCE)",
                                         "data") KOV_COMPOSED_DIR("DIR_SORTTMP", "$(DIR_INSTANCE)", "data")
                            KOV_COMPOSED_DIR("DIR_REORG", "$(DIR_INSTANCE)",
                                             "data") KOV_COMPOSED_DIR("DIR_BACKUP", "$(DIR_INSTANCE)", "backup")
                                KOV_COMPOSED_DIR("DIR_INBOX", "$(DIR_GLOBAL)",
                                                 "inbox") KOV_COMPOSED_DIR("DIR_OUTBOX", "$(DIR_GLOBAL)", "outbox")
                                    KOV_COMPOSED_DIR("DIR_CERTS", "$(DIR_GLOBAL)", "certs")
                                        KOV_COMPOSED_DIR("DIR_EXCHANGE", "$(DIR_GLOBAL)", "exchange")
                                            KOV_COMPOSED_DIR("DIR_TRANS", "$(DIR_INSTALL)", "trans")
                                                KOV_COMPOSED_DIR("DIR_PUT", "$(DIR_INSTALL)", "put")
                                                    KOV_COMPOSED_DIR("DIR_SOURCE", "$(DIR_INSTALL)", "src")
                                                        KOV_COMPOSED_DIR("DIR_LIBRARY", "$(DIR_INSTALL)", "lib")
                                                            KOV_COMPOSED_DIR("DIR_CONFIG", "$(DIR_INSTALL)", "config")

    // Files composed from a directory and a file name.
    {"ssl/ssl_lib", "(Default)"},
    {"ssl/ssl_lib_name", "libkovcrypto.so"},
    {"ssl/server_pse", "(Default)"},
    {"ssl/server_pse_name", "KOVSSLS.pse"},
    {"ssl/client_pse", "(Default)"},
    {"ssl/client_pse_name", "KOVSSLC.pse"},
    {"ssl/anonymous_pse", "(Default)"},
    {"ssl/anonymous_pse_name", "KOVSSLA.pse"},
    {"rdisp/TRACE_FILE", "(Default)"},
    {"rdisp/TRACE_FILE_NAME", "dev_kov"},
    {"rsau/local/file", "(Default)"},
    {"rsau/local/file_name", "audit_++++++++"},
    {"stat/file", "(Default)"},
    {"stat/file_name", "stat.DAT"},
    {"errmsg/file", "(Default)"},
    {"errmsg/file_name", "errmsg"},
    {"j2ee/instance_properties", "$(DIR_EXECUTABLE)$(DIR_SEP)instance.properties"},

    // SSL.
    {"ssl/GOST_plugin_filename", ""},
    {"ssl/pse_provider", "$(ssl/pse_provider[$(system/type)])"},
    {"ssl/pse_provider[STD]", "KOV"},
    {"ssl/pse_provider[JAVA]", "JAVA"},
    {"ssl/ciphersuites", "HIGH:!aNULL:!eNULL"},
    {"ssl/client_ciphersuites", "HIGH:!aNULL:!eNULL"},

    // Memory.
    {"es/implementation", "std"},
    {"PHYS_MEMSIZE", "64"},
    {"em/max_size_MB", "4096"},
    {"em/initial_size_MB", "4092"},
    {"em/blocksize_KB", "1024"},
    {"rdisp/ROLL_SHM", "16384"},
    {"rdisp/ROLL_MAXFS", "32768"},
    {"rdisp/PG_SHM", "16384"},
    {"rdisp/PG_MAXFS", "32768"},
    {"ztta/roll_first", "1"},
    {"ztta/roll_area", "6500000"},
    {"ztta/roll_extension", "2000000000"},

    // Code pages and languages.
    {"install/codepage/appl_server", "1100"},
    {"install/codepage/FRONT_CONVERSION", "0"},
    {"install/codepage/MNLS_CONVERSION", "0"},
    {"install/codepage/db/transp", "kovparam: Don't use"},
    {"install/codepage/db/non_transp", "kovparam: Don't use"},
    {"zcsa/system_language", "E"},
    {"zcsa/second_language", "D"},
    {"zcsa/installed_languages", "DE"},
    {"zemo/locale_ctype", "C"},
    {"zemo/set_textenv/ignore_errors", "0"},
    {"zemo/set_textenv/skip_all", "0"},
    {"rsts/ccc/cachesize", "6000000"},
    {"rscp/rscploc/oldcache", "0"},
    {"rscp/file/codepage", "S++++.CPA"},

    // Dispatcher, work processes, trace.
    {"rdisp/TRACE", "1"},
    {"rdisp/TRACE_COMPS", "All, M"},
    {"rdisp/wp_no_dia", "2"},
    {"rdisp/wp_no_btc", "1"},
    {"rdisp/wp_no_vb", "1"},
    {"rdisp/wp_no_vb2", "1"},
    {"rdisp/wp_no_enq", "0"},
    {"rdisp/wp_no_spo", "1"},
    {"rdisp/wp_no_restricted", "0"},
    {"rdisp/bufrefmode", "sendoff,exeauto"},

    // Cluster of the second runtime.
    {"j2ee/instance_id", ""},
    {"j2ee/ms/host", ""},
    {"j2ee/ms/port", ""},
    {"j2ee/enq/host", ""},
    {"j2ee/enq/port", ""},
    {nullptr, nullptr},
};

#undef KOV_COMPOSED_DIR

const KovParamDefault kKovParamOverrides[] = {
    {"DIR_EXECUTABLE", "$(DIR_EXE_ROOT)$(DIR_SEP)$(EXETYPE)"},
    {"DIR_GEN", "$(DIR_GEN_ROOT)$(DIR_SEP)dbg"},
    {nullptr, nullptr},
};

#define KOV_DIR_ROW(X) {X, "__1_" X, "__2_" X},

const KovParamComposition kKovParamCompositions[] = {
    KOV_DIR_ROW("DIR_PROFILE") KOV_DIR_ROW("DIR_HOME") KOV_DIR_ROW("DIR_DATA") KOV_DIR_ROW("DIR_EXE_ROOT")
        KOV_DIR_ROW("DIR_GEN_ROOT") KOV_DIR_ROW("DIR_GLOBAL") KOV_DIR_ROW("DIR_AUDIT") KOV_DIR_ROW("DIR_LOGGING")
            KOV_DIR_ROW("DIR_TRACE") KOV_DIR_ROW("DIR_TEMP") KOV_DIR_ROW("DIR_SECURITY") KOV_DIR_ROW("DIR_CACHE")
                KOV_DIR_ROW("DIR_SPOOL") KOV_DIR_ROW("DIR_ROLL") KOV_DIR_ROW("DIR_PAGING") KOV_DIR_ROW("DIR_SORTTMP")
                    KOV_DIR_ROW("DIR_REORG") KOV_DIR_ROW("DIR_BACKUP") KOV_DIR_ROW("DIR_INBOX")
                        KOV_DIR_ROW("DIR_OUTBOX") KOV_DIR_ROW("DIR_CERTS") KOV_DIR_ROW("DIR_EXCHANGE")
                            KOV_DIR_ROW("DIR_TRANS") KOV_DIR_ROW("DIR_PUT") KOV_DIR_ROW("DIR_SOURCE")
                                KOV_DIR_ROW("DIR_LIBRARY")
                                    KOV_DIR_ROW("DIR_CONFIG"){"ssl/ssl_lib", "DIR_EXECUTABLE", "ssl/ssl_lib_name"},
    {"ssl/server_pse", "DIR_SECURITY", "ssl/server_pse_name"},
    {"ssl/client_pse", "DIR_SECURITY", "ssl/client_pse_name"},
    {"ssl/anonymous_pse", "DIR_SECURITY", "ssl/anonymous_pse_name"},
    {"rdisp/TRACE_FILE", "DIR_TRACE", "rdisp/TRACE_FILE_NAME"},
    {"rsau/local/file", "DIR_AUDIT", "rsau/local/file_name"},
    {"stat/file", "DIR_DATA", "stat/file_name"},
    {"errmsg/file", "DIR_GLOBAL", "errmsg/file_name"},
    {nullptr, nullptr, nullptr},
};

#undef KOV_DIR_ROW

const size_t kKovParamCompositionCount = sizeof kKovParamCompositions / sizeof kKovParamCompositions[0] - 1;

// Names accepted on the command line and the parameter each sets, searched
// in order.
const char* const kKovParamAliases[][2] = {
    {"KOVSYSTEM", "KOVSYSTEM"},
    {"KOVSYSTEMNR", "KOVSYSTEM"},
    {"SYSNR", "KOVSYSTEM"},
    {"NR", "KOVSYSTEM"},
    {"KOVSYSTEMNAME", "KOVSYSTEMNAME"},
    {"SYSNAME", "KOVSYSTEMNAME"},
    {"NAME", "KOVSYSTEMNAME"},
    {"SYSCODEPAGE", "OS_UNICODE"},
    {"SYSSEPARATOR", "DIR_SEP"},
    {"KOVDBHOST", "KOVDBHOST"},
    {"DBHOST", "KOVDBHOST"},
    {"KOVHOST", "KOVDBHOST"},
    {"HOST", "KOVDBHOST"},
    {"KOVMSHOST", "KOVMSHOST"},
    {"MSHOST", "KOVMSHOST"},
    {"KOVDIAHOST", "KOVDIAHOST"},
    {"DIAHOST", "KOVDIAHOST"},
    {"KOVPROFILE", "KOVPROFILE"},
    {"PROFILE", "KOVPROFILE"},
    {"PF", "KOVPROFILE"},
    {"KOVTRACE", "rdisp/TRACE"},
    {"TRACE", "rdisp/TRACE"},
    {"TR", "rdisp/TRACE"},
    {"KOVTRACE_COMPS", "rdisp/TRACE_COMPS"},
    {"TRACE_COMPS", "rdisp/TRACE_COMPS"},
    {"TR_COMPS", "rdisp/TRACE_COMPS"},
    {"KOVEXETYPE", "EXETYPE"},
    {"EXETYPE", "EXETYPE"},
    {"EXE", "EXETYPE"},
    {"WORKPROCESSES", "rdisp/wp_no_dia"},
    {"WP", "rdisp/wp_no_dia"},
    {"WPDIA", "rdisp/wp_no_dia"},
    {"WPBTC", "rdisp/wp_no_btc"},
    {"WPVB", "rdisp/wp_no_vb"},
    {"WPVB2", "rdisp/wp_no_vb2"},
    {"WPENQ", "rdisp/wp_no_enq"},
    {"WPSPO", "rdisp/wp_no_spo"},
    {"WPRESTRICTED", "rdisp/wp_no_restricted"},
    {"INSTANCE", "INSTANCE_NAME"},
    {"ICE", "INSTANCE_NAME"},
    {"WP_ID", "WP_ID"},
    {"RDISP/BUFREFMODE", "rdisp/bufrefmode"},
    {"BUFREFMODE", "rdisp/bufrefmode"},
    {"BUF", "rdisp/bufrefmode"},
    {"J2EE_INSTANCE_ID", "j2ee/instance_id"},
    {"J2EE_MSHOST", "j2ee/ms/host"},
    {"J2EE_MSPORT", "j2ee/ms/port"},
    {"J2EE_ENQHOST", "j2ee/enq/host"},
    {"J2EE_ENQPORT", "j2ee/enq/port"},
    {nullptr, nullptr},
};
