// The command-line entry of the profile-parameter library: parameter
// assignments among the program's arguments, the host facts, and the merge
// of a start profile with its instance profile.
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/sysinfo.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "flat/kovparam_int.h"
#include "nls/kovcase.h"
#include "nls/kovstr.h"

namespace {

constexpr size_t kArgTooLarge = 1997;
constexpr size_t kArgNotExamined = 2000;
constexpr size_t kArgvTextLimit = 4088;
constexpr int kMergeNames = 10;

void TakeHostFacts()
{
    char host[256];
    if (gethostname(host, sizeof host) != 0) {
        perror("kovparam: gethostname() failed");
        host[0] = '\0';
    }
    host[sizeof host - 1] = '\0';
    strncpy_sR(g_kp.localHostFull, sizeof g_kp.localHostFull, host, sizeof g_kp.localHostFull - 1);
    size_t shortLen = strcspn(host, ".");
    strncpy_sR(g_kp.localHost, sizeof g_kp.localHost, host, shortLen < 499 ? shortLen : 499);

    // The processor count is one more than the number of the last
    // "processor : N" line.
    long last = -1;
    if (FILE* f = fopen("/proc/cpuinfo", "r")) {
        char line[512];
        while (fgets(line, sizeof line, f)) {
            if (strncmp(line, "processor", 9) != 0)
                continue;
            const char* colon = strstr(line, ": ");
            if (colon && isdigit(static_cast<unsigned char>(colon[2])))
                last = strtol(colon + 2, nullptr, 10);
        }
        fclose(f);
    }
    snprintfTruncR(g_kp.cpuCount, sizeof g_kp.cpuCount, "%ld", last + 1);
    struct sysinfo si;
    long long mb = 0;
    if (sysinfo(&si) == 0)
        mb = static_cast<long long>((static_cast<unsigned long long>(si.totalram) * si.mem_unit) >> 20);
    snprintfTruncR(g_kp.physMemsize, sizeof g_kp.physMemsize, "%lld", mb);
}

const char* FindAlias(const char* name)
{
    for (const auto* row = kKovParamAliases; row[0][0]; ++row)
        if (strcmp(row[0][0], name) == 0)
            return row[0][1];
    return nullptr;
}

// Splits name=value (or "name value"); false when there is no value.
bool SplitAssignment(const char* arg, char* name, size_t nameSize, char* value, size_t valueSize)
{
    size_t nameLen = strcspn(arg, " \t=");
    const char* rest = arg + nameLen;
    if (!*rest)
        return false;
    rest += strspn(rest, " \t=");
    size_t valueLen = strcspn(rest, "\t=");
    while (valueLen > 0 && (rest[valueLen - 1] == ' ' || rest[valueLen - 1] == '\t'))
        --valueLen;
    if (valueLen == 0)
        return false;
    strncpy_sR(name, nameSize, arg, nameLen);
    strncpy_sR(value, valueSize, rest, valueLen);
    return true;
}

// Appends one taken assignment to KOVARGV; false when it would pass the limit.
bool RecordAssignment(const char* arg)
{
    bool quote = strchr(arg, ' ') != nullptr;
    size_t need = strlen(g_kp.argvText) + strlen(arg) + (quote ? 2 : 0) + 1;
    if (need > kArgvTextLimit)
        return false;
    if (quote)
        strcat_sR(g_kp.argvText, sizeof g_kp.argvText, "\"");
    strcat_sR(g_kp.argvText, sizeof g_kp.argvText, arg);
    strcat_sR(g_kp.argvText, sizeof g_kp.argvText, quote ? "\" " : " ");
    return true;
}

void StorePair(const char* param, char* value)
{
    if (strcmp(param, "KOVPROFILE") == 0 && value[0] != '/') {
        char cwd[400];
        char full[400];
        if (getcwd(cwd, sizeof cwd) && strcpy_sR(full, sizeof full, cwd) == 0 &&
            strcat_sR(full, sizeof full, "/") == 0 && strcat_sR(full, sizeof full, value) == 0) {
            if (char* copy = strdup(full)) {
                free(value);
                value = copy;
            }
        }
    }
    if (strcmp(param, "KOVSYSTEM") == 0 && value[0] && value[1]) {
        g_kp.sysnr[0] = value[0];
        g_kp.sysnr[1] = value[1];
        g_kp.sysnrFixed = g_kp.sysnrFromCmdline = true;
    }
    if (strcmp(param, "KOVSYSTEMNAME") == 0 && !g_kp.sysnameTaken) {
        strncpy_sR(g_kp.sysname, sizeof g_kp.sysname, value, sizeof g_kp.sysname - 1);
        g_kp.sysnameTaken = g_kp.sysnameFromCmdline = true;
    }
    g_kp.cmdPairs[g_kp.cmdPairCount++] = {param, value};
}

// Copies src to the open descriptor; false on any failure.
bool CopyInto(int fd, const char* src)
{
    FILE* in = fopen(src, "r");
    if (!in)
        return false;
    char buf[8192];
    bool ok = true;
    for (size_t n; ok && (n = fread(buf, 1, sizeof buf, in)) > 0;)
        for (size_t done = 0; ok && done < n;) {
            ssize_t w = write(fd, buf + done, n - done);
            if (w < 0 && errno == EINTR)
                continue;
            ok = w > 0;
            done += ok ? static_cast<size_t>(w) : 0;
        }
    ok = ok && !ferror(in);
    fclose(in);
    return ok;
}

// The instance profile that belongs to the start profile file in dir: the
// regular file whose name from its fourth character on equals the start
// profile's name from its sixth character on.
bool FindInstanceProfile(const char* dir, const char* startName, char* out, size_t size)
{
    DIR* d = opendir(dir);
    if (!d)
        return false;
    bool found = false;
    while (struct dirent* e = readdir(d)) {
        if (strlen(e->d_name) < 3 || strcmp(e->d_name + 3, startName + 5) != 0)
            continue;
        struct stat st;
        if (strcpy_sR(out, size, dir) == 0 && strcat_sR(out, size, "/") == 0 && strcat_sR(out, size, e->d_name) == 0 &&
            stat(out, &st) == 0 && S_ISREG(st.st_mode)) {
            found = true;
            break;
        }
    }
    closedir(d);
    return found;
}

// Writes the instance profile, a line feed and the start profile into a new
// file of its own in /tmp; its name is kept for the initialisation.
void MergeStartProfile(const char* startPath)
{
    char dir[4096];
    const char* slash = strrchr(startPath, '/');
    const char* file = slash ? slash + 1 : startPath;
    if (slash)
        strncpy_sR(dir, sizeof dir, startPath, static_cast<size_t>(slash - startPath));
    else
        strcpy_sR(dir, sizeof dir, ".");
    if (slash == startPath)
        strcpy_sR(dir, sizeof dir, "/");
    char instance[4096];
    if (strncmp(file, "START_", 6) != 0 || !FindInstanceProfile(dir, file, instance, sizeof instance))
        return;
    for (int n = 0; n < kMergeNames; ++n) {
        char name[256];
        char opened[sizeof name + sizeof g_kpRoot];
        if (snprintfR(name, sizeof name, "%s%d_%d_%d.pfl", "/tmp/", static_cast<int>(getpid()),
                      static_cast<int>(time(nullptr)), n) < 0)
            return;
        KovParamSystemPath(opened, sizeof opened, name);
        // A new file of our own: never an existing one, never through a link.
        int fd = open(opened, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
        if (fd < 0)
            continue;
        bool ok = CopyInto(fd, instance) && write(fd, "\n", 1) == 1 && CopyInto(fd, startPath);
        ok = close(fd) == 0 && ok;
        if (!ok || strcpy_sR(g_kp.mergeFile, sizeof g_kp.mergeFile, opened) != 0)
            unlink(opened);
        return;
    }
}

}  // namespace

void kovparam_parse_cmdline(int argc, char** argv)
{
    g_kp.cmdlineRan = true;
    KovParamReadEnvFlags();
    TakeHostFacts();
    const char* program = argc > 0 && argv && argv[0] ? argv[0] : "";
    strncpy_sR(g_kp.msgPrefix, sizeof g_kp.msgPrefix, program, 252);
    strcat_sR(g_kp.msgPrefix, sizeof g_kp.msgPrefix, ": ");

    free(g_kp.args);
    g_kp.args = static_cast<char**>(calloc(static_cast<size_t>(argc > 0 ? argc : 0) + 2, sizeof(char*)));
    g_kp.argCount = 0;
    if (!g_kp.args)
        return;
    g_kp.args[g_kp.argCount++] = const_cast<char*>(program);
    int taken = 0;
    for (int i = 1; i < argc; ++i) {
        char* arg = argv[i];
        if (!arg)
            continue;
        g_kp.args[g_kp.argCount++] = arg;
        size_t len = strlen(arg);
        if (len > kArgTooLarge) {
            KovParamMsg("kovparam: commandline argument too large\n");
            if (len >= kArgNotExamined)
                continue;
        }
        char name[kArgNotExamined];
        char value[kArgNotExamined];
        if (!SplitAssignment(arg, name, sizeof name, value, sizeof value))
            continue;
        struprR(name);
        const char* param = FindAlias(name);
        if (!param)
            continue;
        g_kp.args[--g_kp.argCount] = nullptr;
        if (g_kp.cmdPairCount >= kKovParamMaxCmdPairs) {
            KovParamMsg("kovparam: too many commandline arguments\n");
            continue;
        }
        if (!RecordAssignment(arg)) {
            KovParamMsg("kovparam: too much commandline arguments.\n");
            continue;
        }
        snprintfTruncR(g_kp.argcText, sizeof g_kp.argcText, "%d", ++taken);
        char* copy = strdup(value);
        if (!copy) {
            perror("kovparam: malloc for cmdline-parameters");
            continue;
        }
        StorePair(param, copy);
    }
}

void kovparam_get_args(int* count, char*** args)
{
    if (count)
        *count = g_kp.argCount;
    if (args)
        *args = g_kp.args;
}

void kovargv(int argc, char** argv)
{
    if (argc > 1 && argv && argv[1] && strncmp(argv[1], "pf=", 3) == 0)
        MergeStartProfile(argv[1] + 3);
    kovparam_parse_cmdline(argc, argv);
    kovparam_get("KOVSYSTEM");
    if (g_kp.mergeFile[0]) {
        unlink(g_kp.mergeFile);
        g_kp.mergeFile[0] = '\0';
    }
}
