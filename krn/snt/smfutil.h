// Support code of the timestamp client: guarded allocation with a sticky
// low-memory state, a trace formatter that also collects the error messages
// of one request, a URL splitter, traced hex dumps, the HTTP/1.0 reply reader
// over a plain or TLS connection, and optional debug dumps of binary data.
//
// Traces go to the trace file handed over by SmfUtilSetTraceFile at the trace
// level ct_level (0 error, 1, 2, 3).  Nothing here ever writes a user name, a
// password or a PIN into a trace line, a message or a dump.
#pragma once

#include <cstddef>
#include <cstdint>

#include "crypto/ssfload.h"
#include "ni/ni.h"
#include "sec/sssl/sssl.h"
#include "trace/dptrc.h"

// Largest reply body the reader accepts; a timestamp reply is a few KiB.
inline constexpr int32_t SMFUTIL_MAX_BODY = 1000000;

// Reader and client results besides 0 and -1 (no memory).
enum : int32_t {
    SMFUTIL_OK = 0,
    SMFUTIL_ENOMEM = -1,
    SMFUTIL_EURL = 1,           // malformed URL, or credentials outside 7-bit ASCII
    SMFUTIL_EUSAGE = 2,         // TSA URL missing, or a proxy URL with credentials
    SMFUTIL_ESCHEME = 3,        // unsupported scheme
    SMFUTIL_ENETWORK = 4,       // connect, write or read failed
    SMFUTIL_EINCONSISTENT = 5,  // the reply is not well-formed HTTP or breaks its limits
    SMFUTIL_ESTATUS = 6,        // the reply's status is not 200
    SMFUTIL_ECONTENTTYPE = 7,   // the reply's content type is missing or wrong
    SMFUTIL_ESSL = 9,           // an SSL layer call failed
    SMFUTIL_EBASE64 = 10,       // coding the credentials failed
    SMFUTIL_ESSLLIB = 11,       // the SSL layer could not load its library
    SMFUTIL_ECRYPTO = 12,       // the crypto library lacks a function or refused
};

// Kinds of guarded blocks.
enum : int {
    SMFUTIL_BYTES = 0,
    SMFUTIL_CHARS = 1,
};

// The error messages collected during one request, newest first joined by
// " <-- ".  Zero-initialise; release with SmfUtilFreeMsg.
struct SmfUtilMsg {
    char* text;
    size_t capacity;
};

// URL parts; each an owned text or null.  Free with SmfUtilFreeURL.
struct SmfUtilURL {
    char* scheme;
    char* user;
    char* password;
    char* host;
    char* port;
    char* path;
};

void SmfUtilSetTraceFile(DpTrcHdl traceFile);
DpTrcHdl SmfUtilGetTraceFile();
// Whether the manifest has handed a trace file over.
bool SmfUtilHasTraceFile();

// Guarded allocation: one byte more than asked, holding a guard ("X" for
// characters, 0xFA for bytes).  Once an allocation failed every further one
// fails at once until the next request record is created (SmfUtilResetLowMemory).
void* SmfUtilAlloc(int kind, size_t bytes, size_t chars, const char* file, int line);
void SmfUtilFree(void* block, const char* file, int line);
// A copy of the first n bytes of text, terminated, as a guarded character block.
char* SmfUtilStrndup(const char* text, size_t n, const char* file, int line);
#define SMF_ALLOC(kind, bytes, chars) SmfUtilAlloc((kind), (bytes), (chars), __FILE__, __LINE__)
#define SMF_FREE(block) ((block) ? SmfUtilFree((block), __FILE__, __LINE__) : (void)0)
#define SMF_STRNDUP(text, n) SmfUtilStrndup((text), (n), __FILE__, __LINE__)

// Clears the low-memory and error-seen states (done for every new request).
void SmfUtilResetLowMemory();
bool SmfUtilLowMemory();
// The text kept as a request's message when memory ran out; never freed.
extern const char SMFUTIL_LOW_MEMORY_TEXT[];

// Debug tracking of guarded blocks: SmfUtilReset switches it on or off (and
// forgets the list); SmfUtilCheckpoint reports every block still listed,
// empties the list and returns the error-seen flag.
void SmfUtilReset(bool tracking);
bool SmfUtilCheckpoint();

// Trace formatter: writes "SmfUtil: <message> [<file> <line>]" at the call's
// level with the position set by SmfUtilSetTraceLoc; level 0 is an error line
// (written whenever tracing is on) whose message is also collected in msg
// (which may be null).  SMF_TRACE sets the position and traces.
void SmfUtilSetTraceLoc(const char* file, int line);
void SmfUtilTrace(int level, SmfUtilMsg* msg, const char* fmt, ...) __attribute__((format(printf, 3, 4)));
#define SMF_TRACE(...) (SmfUtilSetTraceLoc(__FILE__, __LINE__), SmfUtilTrace(__VA_ARGS__))
void SmfUtilFreeMsg(SmfUtilMsg* msg);

// Splits scheme://[user:password@]host[:port][/path].  *clean receives
// "scheme://host[:port][path]" without the credentials.  Returns 0, 1
// (malformed or null URL) or -1 (no memory); on failure both outputs are null.
int SmfUtilSplitURL(SmfUtilMsg* msg, const char* url, SmfUtilURL** parts, char** clean);
void SmfUtilFreeURL(SmfUtilURL* parts);
// The URL as messages may show it: user information (from the scheme
// separator, or the start, to an "@" before the first "/") becomes
// "<hidden>".  A new text (malloc) the caller frees; null for a null URL or
// when memory ran out.
char* SmfUtilShowableURL(const char* url);

// Traced hex dump: when forced (as an error) or at trace level 3.  The bytes
// inside each hidden range [start, end) are shown as "**" and "*".
// Ranges are given as pairs of const void* after the count.
void SmfUtilDump(SmfUtilMsg* msg, const void* data, size_t length, bool force, int hiddenRanges, ...);

// Reads one HTTP/1.0 reply until the peer closes: over the session when
// overSsl, else over the raw handle.  contentType (may be null) receives the
// Content-Type value or null; body (may be null: no body is expected, as in
// the reply to CONNECT) receives a guarded block of *bodyLength bytes and a
// terminating NUL when the status is 200.  Returns 0, -1, 4 (NI read failed),
// 5 (inconsistent reply), 6 (status not 200) or 9 (SSL read failed).
int SmfUtilReadHttpResponse(SmfUtilMsg* msg, bool overSsl, NI_HDL hdl, SSSL_HDL session, char** contentType,
                            int32_t* bodyLength, unsigned char** body);

// Milliseconds the reader and the client wait for the partner at most in one
// connect, read or write (120 s); -1 waits without limit.
extern int32_t smfUtilNetTimeoutMs;

// At trace level 3, writes the data to "dev_smfutil_<seconds>_<n>_<name>.b64"
// (Base64 lines of 64) and ".bin" (raw) in the current directory.
void SmfUtilDebugDump(SmfUtilMsg* msg, const void* data, size_t length, const char* shortName, const char* description);

// Writes the SSF code's name and text and the crypto library's last error
// text as an error (collected in msg).
void SmfUtilTraceSsfError(SmfUtilMsg* msg, SsfFuncContext* ctx, int ssfRc);

// ---- timestamp requests ----------------------------------------------------------

// The result of one timestamp request: its code and the collected messages
// (newest first), or SMFUTIL_LOW_MEMORY_TEXT when memory ran out.
struct SmfUtilResult {
    int32_t result;
    char* message;
    SmfUtilMsg* msgBlock;
};

// One timestamp request, made by SmfUtilCreateTimestampRequest and filled by
// the signed manifest.  The inputs stay the caller's; SmfUtilFreeTimestampRequest
// frees the result, the message and the signature with timestamp.
struct SmfUtilTimestampRequestRec {
    SsfFuncContext* crypto;
    const unsigned char* signature;
    uint32_t signatureLength;
    const char* format;           // SSF format of the signature ("PKCS7")
    const char* digestAlgorithm;  // digest of the signature
    const char* pse;              // signing PSE name or path, may be null
    const char* psePassword;      // may be null
    const char* tsaUrl;
    const char* proxyUrl;    // may be null
    unsigned char* stamped;  // out: the signature with timestamp
    uint32_t stampedLength;
    int32_t cryptoRc;  // out: the crypto library's code when one of its calls failed, else 0
    SmfUtilResult* result;
};

// A zero-filled record with its result and message blocks; null when memory
// runs out.  Clears the low-memory and error-seen states first.
SmfUtilTimestampRequestRec* SmfUtilCreateTimestampRequest();
void SmfUtilFreeTimestampRequest(SmfUtilTimestampRequestRec* request);

// Has the crypto library build an RFC 3161 request for the signature, carries
// it to the authority over HTTP or HTTPS (directly or through the proxy) and
// has the library merge the reply into the signature.  Returns and records in
// the result block 0, -1 or a client code of smfutil.h.
int SmfUtilTimestampRequest(SmfUtilTimestampRequestRec* request);
