// The HTTP/1.0 reply reader: reads until the partner closes, splits the
// header into lines with a byte-wise state machine, and keeps the status, the
// content type and a body of exactly the announced length, or, without a
// Content-Length, every byte up to the end of the connection.  The reply comes
// from the network and is checked as untrusted input throughout: header lines
// and the header as a whole are bounded, and so is the body.
#include <cstdlib>
#include <cstring>

#include "krn/snt/smfhttp.h"
#include "nls/kovcase.h"

int32_t smfUtilNetTimeoutMs = 120000;

namespace {

constexpr int32_t kChunk = 8192;
constexpr size_t kMaxLine = 255;
constexpr size_t kMaxReason = 128;
constexpr size_t kMaxHeader = 65536;    // all header bytes of one reply
constexpr size_t kMaxShownBody = 4096;  // body bytes a status message quotes
constexpr int64_t kFirstBody = 1000;    // first buffer of a body without a length

enum State { kLine = 0, kLineCr = 1, kLineEnd = 2, kHeaderCr = 3, kBody = 4 };

struct Reply {
    SmfUtilMsg* msg;
    bool wantBody;
    bool wantType;
    State state = kLine;
    char line[kMaxLine + 1];
    size_t lineLen = 0;
    size_t headerBytes = 0;
    int lineCount = 0;
    int status = -1;
    char reason[kMaxReason + 1] = "";
    int64_t contentLength = -1;
    char* contentType = nullptr;
    unsigned char* body = nullptr;
    int64_t bodyLen = 0;
    int64_t bodyCapacity = 0;  // bytes body holds room for, besides a terminator

    ~Reply()
    {
        SMF_FREE(contentType);
        SMF_FREE(body);
    }
};

int Inconsistent(Reply& r, const char* text)
{
    SMF_TRACE(0, r.msg, "Read data inconsistent: %s", text);
    return SMFUTIL_EINCONSISTENT;
}

// "  123  " -> 123; false for anything but blanks around one run of digits.
// Values beyond the body limit are kept as the limit plus one.
bool ParseLength(const char* text, int64_t* value)
{
    while (*text == ' ' || *text == '\t')
        ++text;
    if (*text < '0' || *text > '9')
        return false;
    int64_t v = 0;
    while (*text >= '0' && *text <= '9') {
        v = v * 10 + (*text++ - '0');
        if (v > SMFUTIL_MAX_BODY)
            v = SMFUTIL_MAX_BODY + 1;
    }
    while (*text == ' ' || *text == '\t')
        ++text;
    *value = v;
    return *text == '\0';
}

int StatusLine(Reply& r)
{
    const char* first = std::strchr(r.line, ' ');
    if (!first) {
        SMF_TRACE(0, r.msg, "Read data inconsistent: Unable to find first <space> in status line \"%s\"", r.line);
        return SMFUTIL_EINCONSISTENT;
    }
    const char* second = std::strchr(first + 1, ' ');
    if (!second) {
        SMF_TRACE(0, r.msg, "Read data inconsistent: Unable to find second <space> in status line \"%s\"", r.line);
        return SMFUTIL_EINCONSISTENT;
    }
    int code = 0;
    const char* p = first + 1;
    for (; p < second && *p >= '0' && *p <= '9' && p - first <= 3; ++p)
        code = code * 10 + (*p - '0');
    if (p != second || p == first + 1) {
        SMF_TRACE(0, r.msg, "Read data inconsistent: Status code in response header \"%s\" cannot be parsed", r.line);
        return SMFUTIL_EINCONSISTENT;
    }
    r.status = code;
    std::strncpy(r.reason, second + 1, kMaxReason);
    r.reason[kMaxReason] = '\0';
    return SMFUTIL_OK;
}

int HeaderLine(Reply& r)
{
    r.line[r.lineLen] = '\0';
    r.lineLen = 0;
    SMF_TRACE(3, r.msg, "Read header line: %s", r.line);
    if (r.lineCount++ == 0)
        return StatusLine(r);
    static const char kLength[] = "content-length:";
    static const char kType[] = "content-type:";
    if (strncasecmpR(r.line, kLength, sizeof kLength - 1) == 0) {
        int64_t value = 0;
        if (!ParseLength(r.line + sizeof kLength - 1, &value)) {
            SMF_TRACE(0, r.msg, "Content length cannot be parsed from header line \"%s\"", r.line);
            return SMFUTIL_EINCONSISTENT;
        }
        if (r.contentLength >= 0 && r.contentLength != value)
            return Inconsistent(r, "Server sends two different content lengths");
        r.contentLength = value;
    } else if (r.wantType && strncasecmpR(r.line, kType, sizeof kType - 1) == 0) {
        const char* value = r.line + sizeof kType - 1;
        while (*value == ' ' || *value == '\t')
            ++value;
        char* copy = SMF_STRNDUP(value, std::strlen(value));
        if (!copy)
            return SMFUTIL_ENOMEM;
        SMF_FREE(r.contentType);
        r.contentType = copy;
    }
    return SMFUTIL_OK;
}

int HeaderEnd(Reply& r)
{
    if (!r.wantBody)
        return SMFUTIL_OK;
    if (r.contentLength > SMFUTIL_MAX_BODY) {
        SMF_TRACE(0, r.msg, "Content length has value %lld (> 1000000 not supported)",
                  static_cast<long long>(r.contentLength));
        return SMFUTIL_EINCONSISTENT;
    }
    // Without a length the body runs to the end of the connection, in a
    // buffer that grows as it comes.
    r.bodyCapacity = r.contentLength >= 0 ? r.contentLength : kFirstBody;
    r.body = static_cast<unsigned char*>(SMF_ALLOC(SMFUTIL_BYTES, static_cast<size_t>(r.bodyCapacity) + 1, 0));
    if (!r.body)
        return SMFUTIL_ENOMEM;
    r.state = kBody;
    return SMFUTIL_OK;
}

// Room for n more body bytes of a reply without a length: the buffer grows
// to twice its size and 1,000 bytes more, up to the body limit.
int GrowBody(Reply& r, int64_t n)
{
    if (r.bodyLen + n > SMFUTIL_MAX_BODY) {
        SMF_TRACE(0, r.msg, "Body without content length has more than %d bytes (not supported)",
                  static_cast<int>(SMFUTIL_MAX_BODY));
        return SMFUTIL_EINCONSISTENT;
    }
    if (r.bodyLen + n <= r.bodyCapacity)
        return SMFUTIL_OK;
    int64_t capacity = r.bodyCapacity;
    while (capacity < r.bodyLen + n)
        capacity = 2 * capacity + kFirstBody;
    if (capacity > SMFUTIL_MAX_BODY)
        capacity = SMFUTIL_MAX_BODY;
    auto* grown = static_cast<unsigned char*>(SMF_ALLOC(SMFUTIL_BYTES, static_cast<size_t>(capacity) + 1, 0));
    if (!grown)
        return SMFUTIL_ENOMEM;
    std::memcpy(grown, r.body, static_cast<size_t>(r.bodyLen));
    SMF_FREE(r.body);
    r.body = grown;
    r.bodyCapacity = capacity;
    return SMFUTIL_OK;
}

// Runs the state machine over one chunk.  *done is set once a header without
// body has ended.
int Feed(Reply& r, const unsigned char* data, int32_t n, bool* done)
{
    for (int32_t i = 0; i < n; ++i) {
        const unsigned char c = data[i];
        if (r.state == kBody) {
            // The rest of the chunk is body: all of it for a body without a
            // length (in a buffer grown to hold it), else what the length
            // leaves room for.
            const int64_t rest = n - i;
            int64_t take = rest;
            if (r.contentLength < 0) {
                const int rc = GrowBody(r, rest);
                if (rc != SMFUTIL_OK)
                    return rc;
            } else if (r.contentLength - r.bodyLen < rest) {
                take = r.contentLength - r.bodyLen;
            }
            std::memcpy(r.body + r.bodyLen, data + i, static_cast<size_t>(take));
            r.bodyLen += take;
            if (take < rest)
                return Inconsistent(r, "Body data are already completely read (according to content-length from "
                                       "header), but server sends even more data");
            return SMFUTIL_OK;
        }
        if (++r.headerBytes > kMaxHeader)
            return Inconsistent(r, "Server sends a header of more than 65536 bytes");
        int rc = SMFUTIL_OK;
        switch (r.state) {
        case kLine:
        case kLineEnd:
            if (c == '\r') {
                r.state = r.state == kLine ? kLineCr : kHeaderCr;
                break;
            }
            if (r.state == kLineEnd && c == '\n') {
                rc = HeaderEnd(r);
                *done = !r.wantBody;
                break;
            }
            r.state = kLine;
            if (r.lineLen < kMaxLine)
                r.line[r.lineLen++] = static_cast<char>(c);
            break;
        case kLineCr:
            if (c != '\n')
                return Inconsistent(r, "Expected 0x10 after 0x13 in header line separator");
            rc = HeaderLine(r);
            r.state = kLineEnd;
            break;
        case kHeaderCr:
            if (c != '\n')
                return Inconsistent(r, "Expected 0x10 after 0x13 in header/body separator");
            rc = HeaderEnd(r);
            *done = !r.wantBody;
            break;
        case kBody:
            break;
        }
        if (rc != SMFUTIL_OK)
            return rc;
        if (*done) {
            if (i + 1 != n)
                return Inconsistent(r, "While reading a response that is expected to have no body, the last byte of "
                                       "the header-end mark was not on the last byte of the last read chunk of data");
            return SMFUTIL_OK;
        }
    }
    return SMFUTIL_OK;
}

// The body as a status message may quote it: printable, bounded, terminated.
char* ShownBody(const Reply& r)
{
    const size_t n = r.bodyLen > static_cast<int64_t>(kMaxShownBody) ? kMaxShownBody : static_cast<size_t>(r.bodyLen);
    char* text = static_cast<char*>(std::malloc(n + 8));
    if (!text)
        return nullptr;
    for (size_t i = 0; i < n; ++i) {
        const unsigned char c = r.body[i];
        text[i] = (c >= 0x20 && c <= 0x7E) || c == '\n' || c == '\t' ? static_cast<char>(c) : '.';
    }
    std::strcpy(text + n, n < static_cast<size_t>(r.bodyLen) ? " [...]" : "");
    return text;
}

}  // namespace

namespace {

struct NetSource {
    SmfUtilMsg* msg;
    bool overSsl;
    NI_HDL hdl;
    SSSL_HDL session;
};

int32_t ReadNet(void* ctx, unsigned char* buffer, int32_t capacity, int32_t* got)
{
    NetSource* src = static_cast<NetSource*>(ctx);
    const int32_t rc = src->overSsl ? KovSSLRead(src->session, buffer, capacity, smfUtilNetTimeoutMs, got)
                                    : NiRawRead(src->hdl, buffer, capacity, smfUtilNetTimeoutMs, got);
    if (rc == 0 || *got > 0) {
        SMF_TRACE(3, src->msg, "Data read from NiRawRead (rc = %d, bytesRead = %d):", rc, *got);
        SmfUtilDump(src->msg, buffer, static_cast<size_t>(*got), false, 0);
    }
    if (rc == 0)
        return SMFUTIL_OK;
    if (src->overSsl ? rc == SSSLERR_CONN_CLOSED : rc == NIECONN_BROKEN)
        return SMFHTTP_END;
    if (src->overSsl) {
        SMF_TRACE(0, src->msg, "Reading of data from partner failed: KovSSLRead() == %d (%s)", rc, KovSSLErrorName(rc));
        return SMFUTIL_ESSL;
    }
    SMF_TRACE(0, src->msg, "Reading of data from partner failed: NiRawRead() == %d (%s)", rc, NiErrorName(rc));
    return SMFUTIL_ENETWORK;
}

}  // namespace

int SmfUtilReadHttpResponse(SmfUtilMsg* msg, bool overSsl, NI_HDL hdl, SSSL_HDL session, char** contentType,
                            int32_t* bodyLength, unsigned char** body)
{
    NetSource src{msg, overSsl, hdl, session};
    return SmfHttpRead(msg, ReadNet, &src, contentType, bodyLength, body);
}

int SmfHttpRead(SmfUtilMsg* msg, SmfHttpReadFn read, void* source, char** contentType, int32_t* bodyLength,
                unsigned char** body)
{
    if (contentType)
        *contentType = nullptr;
    if (body)
        *body = nullptr;
    if (bodyLength)
        *bodyLength = 0;
    Reply r;
    r.msg = msg;
    r.wantBody = body != nullptr;
    r.wantType = contentType != nullptr;
    unsigned char* chunk = static_cast<unsigned char*>(SMF_ALLOC(SMFUTIL_BYTES, kChunk, 0));
    if (!chunk)
        return SMFUTIL_ENOMEM;
    int rc = SMFUTIL_OK;
    bool done = false;
    while (rc == SMFUTIL_OK && !done) {
        int32_t got = 0;
        const int readRc = read(source, chunk, kChunk, &got);
        if (readRc == SMFHTTP_END)
            break;
        rc = readRc != SMFUTIL_OK ? readRc : Feed(r, chunk, got < 0 ? 0 : got > kChunk ? kChunk : got, &done);
    }
    SMF_FREE(chunk);
    if (rc != SMFUTIL_OK)
        return rc;
    if (!done && r.state != kBody) {
        SMF_TRACE(0, msg, "Internal error: Unexpected read state %d after end of data", static_cast<int>(r.state));
        return SMFUTIL_EINCONSISTENT;
    }
    if (r.wantBody && r.bodyLen < r.contentLength)
        return Inconsistent(r, "Server sent less bytes for body than announced in content-length header");
    if (r.status != 200) {
        char* shown = r.bodyLen > 0 ? ShownBody(r) : nullptr;
        SMF_TRACE(0, msg, "Server response has response code %d (%s); Body:\n>>>\n%s\n<<<", r.status, r.reason,
                  shown ? shown : "No body");
        std::free(shown);
        return SMFUTIL_ESTATUS;
    }
    if (r.wantBody) {
        r.body[r.bodyLen] = 0;
        *body = r.body;
        *bodyLength = static_cast<int32_t>(r.bodyLen);
        r.body = nullptr;
    }
    if (contentType) {
        *contentType = r.contentType;
        r.contentType = nullptr;
    }
    return SMFUTIL_OK;
}
