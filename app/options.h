// The parsed command line: a process-wide singleton read directly by every
// command.  Parse fills it from argv; the list files, the archive-name list and
// the final file list are completed by the operations in listfiles.cpp, and
// Check (optcheck.cpp) decides whether the combination makes sense.
#pragma once

#include <cstdint>
#include <exception>
#include <map>
#include <string>
#include <vector>

// Command codes chosen by the command letters.
enum : int32_t {
    KOV_CMD_NONE = 0,
    KOV_CMD_CREATE = 1,    // c
    KOV_CMD_TEST = 2,      // d
    KOV_CMD_EXTRACT = 3,   // x
    KOV_CMD_LIST = 4,      // t
    KOV_CMD_APPEND = 5,    // a
    KOV_CMD_MERGE = 6,     // m
    KOV_CMD_SCAN = 7,      // l
    KOV_CMD_SIGN = 8,      // S
    KOV_CMD_MANIFEST = 9,  // M
};

// Archive name used when -f is absent.
inline constexpr const char* KOV_DEFAULT_ARCHIVE = "DEFAULT.KOX";

class COptions {
public:
    static COptions& Instance();
    // Destroys the singleton (the application object's destructor calls it);
    // a later Instance() builds a fresh object.
    static void DestroyInstance();

    // Fills the object from words[1..count-1]; throws CExcept on a bad word
    // (the first, once every word is read).
    void Parse(int count, char** words);
    // Stores the value of a word option; name is the option without its "-".
    void SetStringOption(const char*& field, const char* value, const char* name);

    // List files and archive names (listfiles.cpp).
    void ReadListFiles();
    void ReadRenameFile();
    void AddRenamedFiles();
    void PrepareFileList();
    // When name is an old name of the rename map, newName becomes its new name.
    void GetNewName(const std::string& name, std::string& newName) const;
    // Builds the archive list on the first call; later calls return it as is.
    std::vector<std::string>& GetArchiveList();
    void BuildArchiveList();

    // Consistency checks of the parsed options (optcheck.cpp).
    void Check();

    // Flags (0 or 1).
    bool verbose = false;
    bool spaceCheck = false;
    bool absolutePaths = false;       // -P
    bool ignoreInaccessible = false;  // i
    bool resolveLinks = true;         // r clears it
    bool archiveListBuilt = false;
    bool statistics = false;           // n, -n
    bool changeDirPermissions = true;  // h, j clear it
    bool forceExtraction = false;      // j
    bool ignoreCase = false;           // g, -g
    bool redirectOutput = false;       // -e
    bool lowerCase = false;            // -lower
    bool flat = false;                 // -flat
    bool backupPrivilege = false;      // never set on this platform
    bool backupMode = false;           // never set on this platform
    bool sign = false;                 // S
    bool verify = false;               // V, -V, M, S after c/x/a

    // Word-option values; each points at the command-line word itself.
    const char* extractDir = nullptr;      // -R
    const char* changeDir = nullptr;       // -C
    const char* permissionText = nullptr;  // -p (non-null: -p was seen)
    const char* includeFile = nullptr;     // -A
    const char* excludeFile = nullptr;     // -X
    const char* renameFile = nullptr;      // -T

    char** argv = nullptr;
    int32_t argc = 0;

    uint32_t permissions = 0;  // -p, 0 means none

    const char* fileHashAlgorithm = nullptr;       // -H
    const char* keyStore = nullptr;                // -key
    const char* keyStorePassword = nullptr;        // -pwd
    const char* securityLibrary = nullptr;         // -L
    const char* signatureFormat = nullptr;         // -F
    const char* signatureHashAlgorithm = nullptr;  // -y
    const char* externalManifest = nullptr;        // -manifest
    const char* revocationList = nullptr;          // -crl
    const char* timestampServer = nullptr;         // -tsaurl
    const char* proxy = nullptr;                   // -proxy
    const char* archiveName = nullptr;             // f, -f; null means "DEFAULT.KOX"

    int32_t commandCode = KOV_CMD_NONE;

    std::vector<std::string> archiveList;
    std::vector<std::string> fileList;
    std::vector<std::string> excludeList;
    std::map<std::string, std::string> renameMap;  // old name -> new name

    COptions() = default;
    COptions(const COptions&) = delete;
    COptions& operator=(const COptions&) = delete;

private:
    // The words of the command line; counts the -backup words it ignores.
    void ParseWords(int& ignoredBackups);
    // The word at i (and the value it takes, moving i past it).
    void ParseWord(int& i, int& ignoredBackups);
    // Notes a bad word; the first one noted is thrown once all are read.
    void KeepFailure(std::exception_ptr failure);
    // Has the application choose where messages go, then writes the
    // notices of the command line.
    void AnnounceParsed(int ignoredBackups);
    void ParseCluster(int& i);
    void ParsePermissions(int& i);

    std::exception_ptr m_failure;  // the first bad word's failure
    int32_t m_failureStatus = 0;   // and the exit status it stored
};
