// The text environment of the runtime: the language, code page and C locale
// that a program works in, beside the system defaults read from the profile
// (system and second language, installed languages, system locale); the
// language and code page getters; and the database code page of the profile.
#pragma once

#include <cstdint>

// A text environment as callers hand it over.
struct kovlcpTextEnv_t {
    char language;
    char spare[14];
    char locale[256];  // NUL-terminated, at most 255 characters
    char codePage[4];
};

// Each getter writes its answer and returns 0, or 128 when it fell back.
uint32_t kovlcpGetSystemLanguage(char* language);
uint32_t kovlcpGetSecondLanguage(char* language);
uint32_t kovlcpGetLogonLanguage(char* language);
uint32_t kovlcpGetTextEnvLanguage(char* language);
uint32_t kovlcpGetUserTextEnvCodePage(char* cp4);
uint32_t rscpGetCodePageForLanguage(char* cp4);
uint32_t kovlcpGetUserCodePage(char* cp4);

// Sets language, code page, second code page and (when option 27 is on) the
// C locale: 0; 1 a locale the system refused; 2 a missing argument; 4 a code
// page the database list does not allow.
int32_t kovlcpSetTextEnv(char language, const char* cp4, const char* secondCp4, const char* locale);
int32_t kovlcpSetTextEnvRecord(const kovlcpTextEnv_t* record);
int32_t kovlcpSetSystemTextEnv();
int32_t kovlcpResetTextEnv();
// 1 when the record is the text environment in force, locale included.
int32_t kovlcpTextEnvMatches(const kovlcpTextEnv_t* record);
// The set, with its errors reported at a falling rate when the profile says
// to ignore them (the error is still returned).
int32_t kovlcpSetTextEnvTolerant(const kovlcpTextEnv_t* record);
int32_t kovlcpSetTextEnvLanguage(char language);
// Current language, code page, locale (256 bytes) and user code page; each
// output may be NULL.  0.
int32_t kovclcl_cur_lang_cp_loc(char* language, char* cp4, char* locale256, char* userCp4);
// Bits: 1 language, 2 code page, 4 locale differ from the system's.
int32_t kovlcpCompareTextEnv();
int32_t kovlcpCopyTextEnvCodePageToUser();
typedef void (*kovlcpLocaleCallback)(const char* locale);
void kovlcpSetLocaleCallback(kovlcpLocaleCallback callback);
// The two language lists of a host's user administration (up to size
// language characters): 1, no list, in this library.
int32_t kovlcpGetLanguageListA(char* list, int32_t size);
int32_t kovlcpGetLanguageListB(char* list, int32_t size);
// 1 when the language stands in the list a source writes (256 characters,
// ended by the first blank); 0 also when the source answers nonzero.
int32_t kovlcpLanguageInList(char language, int32_t (*source)(char* list, int32_t size));
int32_t kovlcpIsLanguageInListA(char language);
int32_t kovlcpIsLanguageInListB(char language);
int32_t kovlcpIsLanguageInstalled(char language);

// Profile parameters.
int32_t kovlcpReadInstallParameters();
int32_t kovlcpIgnoreErrors();
int32_t kovlcpCollateWanted();
int32_t kovlcpSkipAll();
int32_t kovlcpFrontConversion();
int32_t kovlcpMnlsConversion();
int32_t kovlcpSetProfileDBCodePage(const char* text);
uint32_t kovlcpGetDBCodePage(char* cps, int32_t capacity, uint32_t* count);

// Test seam: the state of process start (system text, flags, throttle, and
// an empty text environment).
void kovlcpResetTextEnvState();
