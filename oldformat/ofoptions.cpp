// The old archiver's command line: option words, letter clusters, names, and
// the consistency checks that follow them.
#include <cstdio>
#include <cstring>
#include <iterator>

#include "oldformat/ofinternal.h"

namespace {

// Word options of the current archiver that the old syntax does not know.
// Their values are skipped so that they are never taken for names.
constexpr const char* kForeignWithValue[] = {
    "-key", "-pwd", "-H", "-L", "-y", "-manifest", "-crl", "-F", "-tsaurl", "-proxy",
};
// Word flags of the current archiver whose letters would otherwise be read as
// old commands ("-backup" holds a 'c').
constexpr const char* kForeignFlags[] = {"-flat", "-lower", "-backup"};

bool IsOneOf(const char* word, const char* const* list, size_t n)
{
    for (size_t i = 0; i < n; ++i)
        if (std::strcmp(word, list[i]) == 0)
            return true;
    return false;
}

void NoEffect(const OfHandle& h, const char* word)
{
    OfLogLine(h, std::string("KOVZEF: the option ") + word + " has no effect when working with old archives.");
}

std::string WithoutCommas(const char* value)
{
    std::string s;
    for (const char* p = value; *p; ++p)
        if (*p != ',')
            s += *p;
    return s;
}

struct ValueOption {
    const char* word;
    const char* name;
    std::optional<std::string> OfHandle::*field;
};

constexpr ValueOption kValueOptions[] = {
    {"-X", "X-option", &OfHandle::excludeFile},  {"-T", "T-option", &OfHandle::renameFile},
    {"-p", "p-option", &OfHandle::permission},   {"-f", "f-option", &OfHandle::archive},
    {"-C", "C-option", &OfHandle::baseDir},      {"-A", "A-option", &OfHandle::includeFile},
    {"-K", "K-option", &OfHandle::protectedKey}, {"-R", "R-option", &OfHandle::targetDir},
};

// Takes the value of an option at argv[i + 1]: given twice is error 20, no
// next word error 21; a next word beginning with "-" leaves the option
// without a value and is parsed as the next option.
bool TakeValue(std::optional<std::string>& field, const char* name, int argc, char* const* argv, int& i, OfError& error,
               bool archiveName)
{
    if (field) {
        OfSetError(error, OF_E_TWICE, name);
        return false;
    }
    if (i + 1 >= argc) {
        OfSetError(error, OF_E_NO_VALUE, name);
        return false;
    }
    const char* value = argv[i + 1];
    if (value[0] == '-')
        return true;
    ++i;
    field = archiveName ? OfNormalisePath(WithoutCommas(value)) : std::string(value);
    return true;
}

bool ParseCluster(OfHandle& h, int argc, char* const* argv, int& i, OfError& error)
{
    const char* word = argv[i];
    for (const char* p = word + 1; *p; ++p) {
        switch (*p) {
        case 'c':
        case 'x':
        case 't':
        case 'd':
            h.command = *p;
            break;
        case 'v':
            h.verbose = true;
            break;
        case 'g':
            h.gFlag = true;
            break;
        case 's':
            h.sFlag = true;
            break;
        case 'f':
            if (!TakeValue(h.archive, "f-option", argc, argv, i, error, true))
                return false;
            break;
        default:  // one notice per letter the old syntax does not know
            NoEffect(h, word);
            break;
        }
    }
    return true;
}

bool CheckOptions(OfHandle& h, OfError& error)
{
    const char cmd = h.command;
    if (!cmd)
        return OfSetError(error, OF_E_NO_COMMAND, nullptr), false;
    if (h.baseDir && h.pFlag)
        return OfSetError(error, OF_E_C_WITH_P, nullptr), false;
    if (h.baseDir && cmd != 'c')
        return OfSetError(error, OF_E_C_NOT_CREATE, nullptr), false;
    if (h.renameFile && cmd != 'c')
        return OfSetError(error, OF_E_T_NOT_CREATE, nullptr), false;
    if (h.excludeFile && cmd != 'c')
        return OfSetError(error, OF_E_X_NOT_CREATE, nullptr), false;
    if (h.targetDir && cmd != 'x')
        return OfSetError(error, OF_E_R_NOT_EXTRACT, nullptr), false;
    if (h.sFlag && cmd != 'x' && cmd != 't')
        return OfSetError(error, OF_E_S_NOT_EXTRACT, nullptr), false;
    if (cmd == 'c' && h.names.empty() && !h.includeFile && !h.renameFile)
        return OfSetError(error, OF_E_NO_NAMES, nullptr), false;
    if (h.permission) {
        unsigned int value = 0;
        if (std::sscanf(h.permission->c_str(), "%o", &value) != 1)
            return OfSetError(error, OF_E_NOT_OCTAL, nullptr), false;
    }
    if (!h.archive)
        h.archive = std::string("DEFAULT.ZEF");
    return true;
}

}  // namespace

const std::string& OfHandle::ArchiveName() const
{
    static const std::string kDefault("DEFAULT.ZEF");
    return archive ? *archive : kDefault;
}

void OfAddName(OfHandle& h, const std::string& name, char source)
{
    OfName n;
    n.given = name;
    n.normalised = OfNormalisePath(name);
    if (!n.normalised.empty() && n.normalised[0] == '/') {
        n.joined = n.normalised;
    } else {
        const std::string& base = h.baseDir ? *h.baseDir : h.workDir;
        n.joined = base.empty() ? n.normalised : base + "/" + n.normalised;
    }
    n.source = source;
    h.names.push_back(std::move(n));
}

bool OfParseOptions(OfHandle& h, int argc, char* const* argv, OfError& error)
{
    for (int i = 1; i < argc; ++i) {
        const char* word = argv[i];
        bool handled = false;
        for (const ValueOption& opt : kValueOptions) {
            if (std::strcmp(word, opt.word) == 0) {
                if (!TakeValue(h.*opt.field, opt.name, argc, argv, i, error, opt.field == &OfHandle::archive))
                    return false;
                handled = true;
                break;
            }
        }
        if (handled)
            continue;
        if (std::strcmp(word, "-V") == 0) {
            h.verify = true;
        } else if (std::strcmp(word, "-v") == 0) {
            h.verbose = true;
        } else if (std::strcmp(word, "-P") == 0) {
            h.pFlag = true;
        } else if (IsOneOf(word, kForeignFlags, std::size(kForeignFlags))) {
            NoEffect(h, word);
        } else if (IsOneOf(word, kForeignWithValue, std::size(kForeignWithValue))) {
            NoEffect(h, word);
            if (i + 1 < argc)
                ++i;
        } else if (word[0] == '-' && word[1] != '\0') {
            if (!ParseCluster(h, argc, argv, i, error))
                return false;
        } else {
            OfAddName(h, word, 0);
        }
    }
    return CheckOptions(h, error);
}

std::optional<std::string> OfFindExtractList(int argc, char* const* argv)
{
    // Extraction and test: both read every archive the list names.
    bool extractOrTest = false;
    std::optional<std::string> list;
    for (int i = 1; i < argc; ++i) {
        const char* word = argv[i];
        if (word[0] != '-' || word[1] == '\0')
            continue;
        if (IsOneOf(word, kForeignFlags, std::size(kForeignFlags)))
            continue;
        if (IsOneOf(word, kForeignWithValue, std::size(kForeignWithValue))) {
            ++i;
            continue;
        }
        bool valueOption = false;
        for (const ValueOption& opt : kValueOptions) {
            if (std::strcmp(word, opt.word) == 0 && opt.field != &OfHandle::archive) {
                valueOption = true;
                break;
            }
        }
        if (valueOption) {
            ++i;
            continue;
        }
        if (std::strchr(word, 'x') || std::strchr(word, 'd'))
            extractOrTest = true;
        if (std::strchr(word, 'f') && i + 1 < argc && argv[i + 1][0] != '-' && !list) {
            list = std::string(argv[i + 1]);
            ++i;
        }
    }
    if (!extractOrTest)
        return std::nullopt;
    return list;
}
