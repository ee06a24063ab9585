// LOB locators: what a fetch leaves in them and the calls that read them. A CLOB's text
// reaches the caller in the client character set, like VARCHAR2 text; amounts and offsets
// count characters for CLOB/NCLOB and bytes for BLOB.
#include <algorithm>
#include <cstring>
#include <type_traits>

#include "oci/OciFunctions.h"
#include "ocisqlite/ClientCharset.h"
#include "ocisqlite/Handles.h"

using namespace velnor::ocisqlite;

#define VELNOR_CHECK_SIGNATURE(name) \
    static_assert(std::is_same_v<decltype(&name), Fn##name>, #name);
VELNOR_CHECK_SIGNATURE(OCILobGetLength)
VELNOR_CHECK_SIGNATURE(OCILobRead)
VELNOR_CHECK_SIGNATURE(OCILobAssign)
VELNOR_CHECK_SIGNATURE(OCILobLocatorIsInit)
VELNOR_CHECK_SIGNATURE(OCILobCharSetForm)
VELNOR_CHECK_SIGNATURE(OCILobCharSetId)
VELNOR_CHECK_SIGNATURE(OCILobIsEqual)

namespace velnor::ocisqlite {
namespace {

constexpr ub2 kCharsetId = 873;           // AL32UTF8
constexpr ub2 kNationalCharsetId = 2000;  // AL16UTF16

TDescriptor* Locator(const void* handle) {
    THandle* h = AnyHandle(handle);
    if (!h || (h->Type() != OCI_DTYPE_LOB && h->Type() != OCI_DTYPE_FILE)) return nullptr;
    return static_cast<TDescriptor*>(h);
}

bool ValidError(OCIError* err) { return AsHandle<TErrorHandle>(err, OCI_HTYPE_ERROR) != nullptr; }

// A locator a read or length may use: a NULL column value leaves none.
const TLobState& Readable(TDescriptor& locator, const char* operation) {
    const TLobState& lob = locator.lob;
    if (!lob.initialized || !lob.value) throw OraError(22275);
    if (lob.type == SQLT_BFILE) throw OraError(22289, {operation});
    return lob;
}

bool Continuation(char c) { return (static_cast<unsigned char>(c) & 0xC0) == 0x80; }

// Characters of UTF-8 text.
std::size_t CharCount(std::string_view text) {
    std::size_t n = 0;
    for (char c : text) n += Continuation(c) ? 0 : 1;
    return n;
}

// The byte position of character `chars` (from 0) at or after byte `from`.
std::size_t SkipChars(const std::string& text, std::size_t from, std::size_t chars) {
    std::size_t at = from;
    while (at < text.size() && chars > 0) {
        ++at;
        while (at < text.size() && Continuation(text[at])) ++at;
        --chars;
    }
    return at;
}

// Most bytes one character takes in the client character set.
std::size_t MaxClientWidth(TClientCharset set) {
    switch (set) {
        case TClientCharset::Us7Ascii:
            return 1;
        case TClientCharset::Ja16Sjis:
        case TClientCharset::Ja16SjisTilde:
            return 2;
        case TClientCharset::Utf8:
            return 6;  // a supplementary character as two three-byte halves
        default:
            return 4;
    }
}

// The next piece of a read: at most `room` bytes for the caller, whole characters only.
// `at` advances over the database bytes used and `charsLeft` over the characters.
std::string NextPiece(const TLobState& lob, std::size_t& at, std::size_t& charsLeft,
                      std::size_t room) {
    const std::string& value = *lob.value;
    if (lob.type == SQLT_BLOB) {
        const std::size_t n = std::min({room, charsLeft, value.size() - at});
        std::string piece = value.substr(at, n);
        at += n;
        charsLeft -= n;
        return piece;
    }
    const TClientCharset set = ClientCharset();
    std::size_t chars = std::min(charsLeft, room / MaxClientWidth(set));
    if (set == TClientCharset::Al32Utf8) {
        // Same encoding: fill the buffer up to the last whole character.
        std::size_t end = std::min(value.size(), at + room);
        if (end < value.size())
            while (end > at && Continuation(value[end])) --end;
        std::size_t taken = CharCount(std::string_view(value).substr(at, end - at));
        if (taken > charsLeft) {
            end = SkipChars(value, at, charsLeft);
            taken = charsLeft;
        }
        std::string piece = value.substr(at, end - at);
        at = end;
        charsLeft -= taken;
        return piece;
    }
    if (chars == 0 && charsLeft > 0) throw OraError(22275);  // no room for one character
    const std::size_t end = SkipChars(value, at, chars);
    chars = CharCount(std::string_view(value).substr(at, end - at));
    std::string piece = ToClient(std::string_view(value).substr(at, end - at), set);
    at = end;
    charsLeft -= chars;
    return piece;
}

}  // namespace

void FillLocator(void* slot, const sql::Value& value, const sql::ColumnInfo& column) {
    void* handle = nullptr;
    std::memcpy(&handle, slot, sizeof handle);
    TDescriptor* locator = Locator(handle);
    if (!locator) throw OraError(22275);
    TLobState& lob = locator->lob;
    lob = TLobState{};
    lob.type = column.type == sql::tcBfile ? SQLT_BFILE : column.type;
    lob.national = column.national;
    if (value.IsNull()) return;
    lob.initialized = true;
    lob.value = std::make_shared<const std::string>(value.bytes);
}

}  // namespace velnor::ocisqlite

VELNOR_EXPORT sword OCILobGetLength(OCISvcCtx* svc, OCIError* err, OCILobLocator* loc,
                                    ub4* len_out) {
    TDescriptor* locator = Locator(loc);
    if (!locator || !ValidError(err) || !len_out) return OCI_INVALID_HANDLE;
    return Guard(err, [&] {
        (void)svc;
        const TLobState& lob = Readable(*locator, "GETLENGTH");
        const std::size_t n = lob.type == SQLT_BLOB ? lob.value->size() : CharCount(*lob.value);
        if (n > UB4MAXVAL) throw OraError(22053);
        *len_out = static_cast<ub4>(n);
        return OCI_SUCCESS;
    });
}

VELNOR_EXPORT sword OCILobRead(OCISvcCtx* svc, OCIError* err, OCILobLocator* loc, ub4* amount_inout,
                               ub4 offset, void* buf, ub4 buf_len, void* ctx, OCICallbackLobRead cb,
                               ub2 cs_id, ub1 cs_form) {
    TDescriptor* locator = Locator(loc);
    if (!locator || !ValidError(err) || !amount_inout || !buf) return OCI_INVALID_HANDLE;
    return Guard(err, [&]() -> sword {
        (void)svc;
        (void)cs_id;
        (void)cs_form;
        TLobState& lob = locator->lob;
        Readable(*locator, "FILEREAD");
        if (!lob.polling) {
            // A new read: the offset counts from 1, an amount of 0 reads to the end.
            if (offset == 0) throw OraError(22275);
            lob.pollAt = lob.type == SQLT_BLOB
                             ? std::min<std::size_t>(offset - 1, lob.value->size())
                             : SkipChars(*lob.value, 0, offset - 1);
            lob.pollCharsLeft = *amount_inout == 0 ? static_cast<std::size_t>(-1) : *amount_inout;
        }
        auto done = [&] { return lob.pollCharsLeft == 0 || lob.pollAt >= lob.value->size(); };
        if (cb) {
            std::size_t total = 0;
            lob.polling = false;
            ub1 piece = OCI_FIRST_PIECE;
            do {
                std::string bytes = NextPiece(lob, lob.pollAt, lob.pollCharsLeft, buf_len);
                if (done()) piece = piece == OCI_FIRST_PIECE ? OCI_ONE_PIECE : OCI_LAST_PIECE;
                std::memcpy(buf, bytes.data(), bytes.size());
                total += bytes.size();
                if (cb(ctx, buf, static_cast<ub4>(bytes.size()), piece) != OCI_CONTINUE)
                    throw OraError(24343);
                piece = OCI_NEXT_PIECE;
            } while (!done());
            *amount_inout = static_cast<ub4>(std::min<std::size_t>(total, UB4MAXVAL));
            return OCI_SUCCESS;
        }
        std::string bytes = NextPiece(lob, lob.pollAt, lob.pollCharsLeft, buf_len);
        std::memcpy(buf, bytes.data(), bytes.size());
        *amount_inout = static_cast<ub4>(bytes.size());
        lob.polling = !done();
        return lob.polling ? static_cast<sword>(OCI_NEED_DATA) : static_cast<sword>(OCI_SUCCESS);
    });
}

VELNOR_EXPORT sword OCILobAssign(OCIEnv* env, OCIError* err, const OCILobLocator* src,
                                 OCILobLocator** dst_out) {
    TDescriptor* from = Locator(src);
    if (!from || !ValidError(err) || !dst_out) return OCI_INVALID_HANDLE;
    TDescriptor* to = Locator(*dst_out);
    if (!to) return OCI_INVALID_HANDLE;
    return Guard(err, [&] {
        (void)env;
        to->lob = from->lob;
        to->lob.polling = false;
        return OCI_SUCCESS;
    });
}

VELNOR_EXPORT sword OCILobLocatorIsInit(OCIEnv* env, OCIError* err, const OCILobLocator* loc,
                                        boolean* init_out) {
    TDescriptor* locator = Locator(loc);
    if (!locator || !ValidError(err) || !init_out) return OCI_INVALID_HANDLE;
    (void)env;
    *init_out = locator->lob.initialized ? 1 : 0;
    return OCI_SUCCESS;
}

VELNOR_EXPORT sword OCILobCharSetForm(OCIEnv* env, OCIError* err, const OCILobLocator* loc,
                                      ub1* cs_form) {
    TDescriptor* locator = Locator(loc);
    if (!locator || !ValidError(err) || !cs_form) return OCI_INVALID_HANDLE;
    (void)env;
    // A BLOB or BFILE has no character set: form 0.
    *cs_form = locator->lob.type != SQLT_CLOB ? 0
               : locator->lob.national        ? SQLCS_NCHAR
                                              : SQLCS_IMPLICIT;
    return OCI_SUCCESS;
}

VELNOR_EXPORT sword OCILobCharSetId(OCIEnv* env, OCIError* err, const OCILobLocator* loc,
                                    ub2* cs_id) {
    TDescriptor* locator = Locator(loc);
    if (!locator || !ValidError(err) || !cs_id) return OCI_INVALID_HANDLE;
    (void)env;
    *cs_id = locator->lob.type != SQLT_CLOB ? 0
             : locator->lob.national        ? kNationalCharsetId
                                            : kCharsetId;
    return OCI_SUCCESS;
}

VELNOR_EXPORT sword OCILobIsEqual(OCIEnv* env, const OCILobLocator* x, const OCILobLocator* y,
                                  boolean* equal_out) {
    TDescriptor* a = Locator(x);
    TDescriptor* b = Locator(y);
    if (!a || !b || !equal_out) return OCI_INVALID_HANDLE;
    (void)env;
    // The same LOB: one fetched value shared by assigned locators.
    *equal_out = a->lob.initialized && a->lob.value == b->lob.value ? 1 : 0;
    return OCI_SUCCESS;
}
