// Languages of the code page library: the map of each one-character language
// to its multi-byte code page and C locale, the processed and default
// languages, the locale set-up for a language, the migration language map,
// and the language/code page lists exchanged with RFC partners.
#pragma once

#include <cstdint>

#include "krn/rscp/cpccc.h"

// ---- the language map and language queries -----------------------------------------------

// The code page and (when locale is given; 256 bytes) the locale of a
// language.  Modes 1 and 2 are calls made while the map is being built.
// Failures leave the text environment's code page in cp4 and return 32 (256
// for a call during the build, which leaves the outputs alone).
uint32_t rscpiGetMBCodePageForLanguage(const char* language, char* cp4, char* locale, int32_t mode);
uint32_t rscpGetMBCodePageForLanguage(const char* language, char* cp4, char* locale);
// The processed languages blank-padded into size characters: 0, or 32 when a
// non-blank language did not fit.
uint32_t rscpGetProcessedLanguages(char* field, int32_t size);
uint32_t rscpGetProcessedLanguagesLength();
int32_t rscpIsProcessedLanguage(const char* language);
// The cache's default language (0), else the system language (128).
uint32_t rscpGetDefaultLanguage(char* language);

// ---- locale set-up ------------------------------------------------------------------------

// The code page and locale (256 bytes) of a language: from the language map
// (modes 0 and 1), else from "TCP0C.DAT" with the default country, or (mode 2
// and above) with a blank country; "0000" and "C" when nothing knows it.
// Country source 1 and 2 take the cache's default country.  Always 0.
uint32_t rscpLocaleForLanguage(char language, int32_t mode, char* cp4, char* locale, uint32_t mask,
                               int32_t countrySource);
uint32_t rscpGetLocaleForLanguage(char language, int32_t mode, char* cp4, char* locale, uint32_t mask);
// Makes the language's code page and locale the text environment: 0, or 128.
uint32_t rscpcls__codepage_and_locale_set(char language, uint8_t skipDatabase, uint32_t mask, int32_t countrySource);
uint32_t rscpcls_codepage_and_locale_set(char language, uint8_t skipDatabase, uint32_t mask);
uint32_t rscpSetLanguage(char language, uint8_t skipDatabase);
// "E" blank-padded to length: 128 (32 for a length below 1).
uint32_t rscpGetInstalledLanguages(char* buffer, int32_t length);
// No customised pairs without a database: not found.
uint32_t rscpGetCustomizedCPPair(const void* pair, uint8_t* notAllowed, uint8_t* notFound);
// Readers of the migration tables: nothing without a database.
uint32_t rscpumgReadLangCP();
uint32_t rscpumgReadLangNoCP();
uint32_t rscpumgReadCCTLLangs();
// Test seam: forgets the last set and the old-cache switch.
void rscplocResetState();

// The migration language map: the database code pages and, per language, the
// position of its code page among them (8-byte entries), with the main code
// page; built once and kept in the cache (mode 2: the migration's own map).
// An entry's page is -1 when the language's code page is not in the list.
uint32_t GetDBMigrateCodePagesLangs9(char* mainCp4, char* cps, int32_t capacity, uint32_t* count,
                                     rscpLangEntry_t* langs, int32_t langCapacity, uint32_t* langCount,
                                     rscpeOutputFunc out, int32_t mode);
uint32_t GetDBMigrateCodePagesLangs8(char* cps, int32_t capacity, uint32_t* count, rscpLangEntry_t* langs,
                                     int32_t langCapacity, uint32_t* langCount, rscpeOutputFunc out, int32_t mode);
uint32_t GetDBMigrateCodePagesLangs7(char* cps, int32_t capacity, uint32_t* count, rscpLangEntry_t* langs,
                                     int32_t langCapacity, uint32_t* langCount, rscpeOutputFunc out);
uint32_t GetDBMigrateCodePagesLangs(char* cps, int32_t capacity, uint32_t* count, rscpLangEntry_t* langs,
                                    int32_t langCapacity, uint32_t* langCount);

// ---- language/code page lists for RFC partners ---------------------------------------------

// The list: a count of code pages, then per code page its 4 characters, the
// number of its languages and the languages, then a 0 byte.
uint32_t rscpLCBuildList();
uint32_t rscpLCListGetSize(uint32_t* size);
uint32_t rscpLCListGet(char* list, int32_t size);
// The code page for a language towards a partner that sent its list, that
// sent none, or that a destination's configured "A" list describes.
uint32_t rscpLCgetC(char* cp4, const char* partnerList, char language, const char* connectionCp4, const char* systemId);
uint32_t rscpLCgetCtry(char* cp4, char language, const char* connectionCp4, const char* systemId);
uint32_t rscpLCgetCdst(char* cp4, const char* destinationList, char language, const char* connectionCp4,
                       const char* destination);
// The language in an "A" list (a letter, then groups of a code page, its
// languages and '$', ended by "$$"): 0, 16 malformed, 2048 not there.
uint32_t readLClistA(char* cp4, const char* list, char language);
uint32_t getLocalZnCP(char* cp4, char language);
const char* legacyInfoGet(const char* systemId);
void rscpLCTrace(const char* text, int32_t line);
