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
    if (!lob.initialized || (!lob.value && !lob.ref)) throw OraError(22275);
    if (lob.type == SQLT_BFILE) throw OraError(22289, {operation});
    return lob;
}

bool Continuation(char c) { return (static_cast<unsigned char>(c) & 0xC0) == 0x80; }

// The database bytes of a LOB, held or read by reference a window at a time.
class TLobBytes {
public:
    explicit TLobBytes(const TLobState& lob) : lob_(lob) {}
    [[nodiscard]] std::size_t Size() {
        if (lob_.value) return lob_.value->size();
        if (size_ < 0) size_ = lob_.ref->connection->LobBytes(*lob_.ref);
        return static_cast<std::size_t>(size_);
    }
    // Up to `n` bytes from byte `at`.
    [[nodiscard]] std::string Window(std::size_t at, std::size_t n) {
        if (lob_.value) return at < lob_.value->size() ? lob_.value->substr(at, n) : std::string();
        std::string out(std::min(n, Size() - std::min(at, Size())), '\0');
        out.resize(lob_.ref->connection->ReadLob(*lob_.ref, static_cast<std::int64_t>(at),
                                                 out.data(), out.size()));
        return out;
    }

private:
    const TLobState& lob_;
    std::int64_t size_ = -1;
};

constexpr std::size_t kScan = 256 * 1024;

// Characters of UTF-8 text.
std::size_t CharCount(std::string_view text) {
    std::size_t n = 0;
    for (char c : text) n += Continuation(c) ? 0 : 1;
    return n;
}

std::size_t CharCount(TLobBytes& bytes) {
    std::size_t n = 0;
    for (std::size_t at = 0; at < bytes.Size(); at += kScan)
        n += CharCount(bytes.Window(at, kScan));
    return n;
}

// The byte position of character `chars` (from 0) at or after byte `from`.
std::size_t SkipChars(TLobBytes& bytes, std::size_t from, std::size_t chars) {
    std::size_t at = from;
    while (chars > 0 && at < bytes.Size()) {
        const std::string window = bytes.Window(at, kScan);
        std::size_t i = 0;
        // Stop before the character after the last one skipped.
        for (; i < window.size(); ++i) {
            if (!Continuation(window[i])) {
                if (chars == 0) break;
                --chars;
            }
        }
        at += i;
        if (i < window.size()) return at;
    }
    // Continuation bytes of the last character skipped.
    while (at < bytes.Size()) {
        const std::string next = bytes.Window(at, 1);
        if (next.empty() || !Continuation(next[0])) break;
        ++at;
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
std::string NextPiece(const TLobState& lob, TLobBytes& bytes, std::size_t& at,
                      std::size_t& charsLeft, std::size_t room) {
    if (lob.type == SQLT_BLOB) {
        std::string piece = bytes.Window(at, std::min(room, charsLeft));
        at += piece.size();
        charsLeft -= piece.size();
        return piece;
    }
    const TClientCharset set = ClientCharset();
    const std::size_t width = set == TClientCharset::Al32Utf8 ? 1 : MaxClientWidth(set);
    if (room < width) throw OraError(22275);  // no room for one character
    // UTF-8 of the database: a window of whole characters that fits once converted.
    std::string window = bytes.Window(at, set == TClientCharset::Al32Utf8 ? room : room / width);
    std::size_t end = window.size();
    // Back off to the start of a character when the window ends inside one.
    if (at + end < bytes.Size()) {
        std::size_t lead = end;
        while (lead > 0 && Continuation(window[lead - 1])) --lead;
        if (lead > 0) {
            const auto c = static_cast<unsigned char>(window[lead - 1]);
            const std::size_t need = c >= 0xF0 ? 4 : c >= 0xE0 ? 3 : c >= 0xC0 ? 2 : 1;
            if (end - (lead - 1) < need) end = lead - 1;
        }
    }
    window.resize(end);
    std::size_t chars = CharCount(window);
    if (chars > charsLeft) {
        std::size_t i = 0, seen = 0;
        for (; i < window.size(); ++i)
            if (!Continuation(window[i]) && seen++ == charsLeft) break;
        window.resize(i);
        chars = charsLeft;
    }
    at += window.size();
    charsLeft -= chars;
    return set == TClientCharset::Al32Utf8 ? window : ToClient(window, set);
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
    if (value.ref)
        lob.ref = value.ref;
    else
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
        TLobBytes bytes(lob);
        const std::size_t n = lob.type == SQLT_BLOB ? bytes.Size() : CharCount(bytes);
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
        TLobBytes source(lob);
        if (!lob.polling) {
            // A new read: the offset counts from 1, an amount of 0 reads to the end.
            if (offset == 0) throw OraError(22275);
            lob.pollAt = lob.type == SQLT_BLOB ? std::min<std::size_t>(offset - 1, source.Size())
                                               : SkipChars(source, 0, offset - 1);
            lob.pollCharsLeft = *amount_inout == 0 ? static_cast<std::size_t>(-1) : *amount_inout;
        }
        auto done = [&] { return lob.pollCharsLeft == 0 || lob.pollAt >= source.Size(); };
        if (cb) {
            std::size_t total = 0;
            lob.polling = false;
            ub1 piece = OCI_FIRST_PIECE;
            do {
                std::string bytes = NextPiece(lob, source, lob.pollAt, lob.pollCharsLeft, buf_len);
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
        std::string bytes = NextPiece(lob, source, lob.pollAt, lob.pollCharsLeft, buf_len);
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
    const bool same = a->lob.value               ? a->lob.value == b->lob.value
                      : a->lob.ref && b->lob.ref ? a->lob.ref->table == b->lob.ref->table &&
                                                       a->lob.ref->column == b->lob.ref->column &&
                                                       a->lob.ref->rowid == b->lob.ref->rowid
                                                 : false;
    *equal_out = a->lob.initialized && same ? 1 : 0;
    return OCI_SUCCESS;
}
