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
VELNOR_CHECK_SIGNATURE(OCILobWrite)
VELNOR_CHECK_SIGNATURE(OCILobTrim)
VELNOR_CHECK_SIGNATURE(OCILobErase)
VELNOR_CHECK_SIGNATURE(OCILobAppend)
VELNOR_CHECK_SIGNATURE(OCILobCopy)

namespace velnor::ocisqlite {
namespace {

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

// --- writing ---------------------------------------------------------------------------

// A locator a write may use: from a row SELECT ... FOR UPDATE locked, in the same
// transaction. A locator of a plain query or of a computed value is read-only.
TLobState& Writable(TDescriptor& locator) {
    TLobState& lob = locator.lob;
    if (!lob.initialized || (!lob.value && !lob.ref)) throw OraError(22275);
    if (lob.type == SQLT_BFILE) throw OraError(24801);  // BFILEs are read-only
    if (!lob.ref || !lob.ref->locked) throw OraError(22920);
    if (lob.ref->transaction != lob.ref->connection->TransactionSerial()) throw OraError(22990);
    lob.polling = false;
    return lob;
}

std::string WholeValue(const TLobState& lob) {
    TLobBytes bytes(lob);
    return bytes.Window(0, bytes.Size());
}

// Characters of a CLOB, bytes of a BLOB.
std::size_t Units(bool blob, std::string_view data) { return blob ? data.size() : CharCount(data); }

// The byte where unit `n` (from 0) starts, or the size when the data has no such unit.
std::size_t ByteOfUnit(bool blob, std::string_view data, std::size_t n) {
    if (blob) return std::min(n, data.size());
    std::size_t seen = 0;
    for (std::size_t i = 0; i < data.size(); ++i)
        if (!Continuation(data[i]) && seen++ == n) return i;
    return data.size();
}

// Replaces `remove` units from unit `at` (from 0) with `insert`. A gap before `at` is
// filled as Oracle fills it: zero bytes in a BLOB, spaces in a CLOB.
void Splice(bool blob, std::string& data, std::size_t at, std::size_t remove,
            std::string_view insert) {
    const std::size_t length = Units(blob, data);
    if (at > length) data.append(at - length, blob ? '\0' : ' ');
    const std::size_t from = ByteOfUnit(blob, data, at);
    const std::size_t to = remove > length ? data.size() : ByteOfUnit(blob, data, at + remove);
    data.replace(from, to - from, insert);
}

void Store(const TLobState& lob, const std::string& data) {
    lob.ref->connection->WriteLob(*lob.ref, data, lob.type == SQLT_BLOB);
}

ub4 ToUb4(std::size_t n) { return static_cast<ub4>(std::min<std::size_t>(n, UB4MAXVAL)); }

// Writes the client's bytes over the LOB from unit `offset` (from 1) and gives the units
// written. Every client character set of the stand-in is single-byte or varying-width, so
// a CLOB amount counts the client's bytes, as for a BLOB.
ub4 WriteAt(TDescriptor& locator, std::size_t offset, std::string client, std::size_t amount) {
    const TLobState& lob = Writable(locator);
    const bool blob = lob.type == SQLT_BLOB;
    if (amount != 0 && client.size() > amount) client.resize(amount);
    const std::string insert = blob ? client : FromClient(client, ClientCharset());
    const std::size_t units = Units(blob, insert);
    std::string data = WholeValue(lob);
    Splice(blob, data, offset - 1, units, insert);
    Store(lob, data);
    return ToUb4(units);
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

namespace {

// The unguarded locator queries: a bad handle or a missing output is OCI_INVALID_HANDLE.
template <typename T, typename Read>
sword ReadLocator(OCIError* err, const OCILobLocator* loc, T* out, Read read) {
    const TDescriptor* locator = Locator(loc);
    if (!locator || !ValidError(err) || !out) return OCI_INVALID_HANDLE;
    *out = static_cast<T>(read(locator->lob));
    return OCI_SUCCESS;
}

}  // namespace

VELNOR_EXPORT sword OCILobLocatorIsInit(OCIEnv* env, OCIError* err, const OCILobLocator* loc,
                                        boolean* init_out) {
    (void)env;
    return ReadLocator(err, loc, init_out, [](const auto& lob) { return lob.initialized ? 1 : 0; });
}

VELNOR_EXPORT sword OCILobCharSetForm(OCIEnv* env, OCIError* err, const OCILobLocator* loc,
                                      ub1* cs_form) {
    (void)env;
    // A BLOB or BFILE has no character set: form 0.
    return ReadLocator(err, loc, cs_form, [](const auto& lob) {
        return lob.type != SQLT_CLOB ? 0 : lob.national ? SQLCS_NCHAR : SQLCS_IMPLICIT;
    });
}

VELNOR_EXPORT sword OCILobCharSetId(OCIEnv* env, OCIError* err, const OCILobLocator* loc,
                                    ub2* cs_id) {
    (void)env;
    return ReadLocator(err, loc, cs_id, [](const auto& lob) {
        return lob.type != SQLT_CLOB ? 0 : lob.national ? kNationalCharsetId : kCharsetId;
    });
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

VELNOR_EXPORT sword OCILobWrite(OCISvcCtx* svc, OCIError* err, OCILobLocator* loc,
                                ub4* amount_inout, ub4 offset, void* buf, ub4 buf_len, ub1 piece,
                                void* ctx, OCICallbackLobWrite cb, ub2 cs_id, ub1 cs_form) {
    TDescriptor* locator = Locator(loc);
    if (!locator || !ValidError(err) || !amount_inout || (!buf && buf_len != 0))
        return OCI_INVALID_HANDLE;
    return Guard(err, [&]() -> sword {
        (void)svc;
        (void)cs_id;
        (void)cs_form;
        TLobState& lob = locator->lob;
        const char* data = static_cast<const char*>(buf);
        if (piece == OCI_NEXT_PIECE || piece == OCI_LAST_PIECE) {
            if (!lob.writing) throw OraError(24801);
            lob.writePieces.append(data, buf_len);
            if (piece == OCI_NEXT_PIECE) return OCI_NEED_DATA;
            lob.writing = false;
            std::string pieces = std::move(lob.writePieces);
            lob.writePieces.clear();
            *amount_inout = WriteAt(*locator, lob.writeOffset, std::move(pieces), lob.writeAmount);
            return OCI_SUCCESS;
        }
        if (piece != OCI_ONE_PIECE && piece != OCI_FIRST_PIECE) throw OraError(24801);
        lob.writing = false;
        lob.writePieces.clear();
        Writable(*locator);
        if (offset == 0) throw OraError(24801);
        if (piece == OCI_ONE_PIECE) {
            // The amount must be in the buffer: the server would read past its end.
            if (*amount_inout == 0 || *amount_inout > buf_len) throw OraError(24801);
            *amount_inout = WriteAt(*locator, offset, std::string(data, *amount_inout), 0);
            return OCI_SUCCESS;
        }
        // Pieces are gathered and written at the last one, so a character split between two
        // pieces converts whole.
        lob.writeOffset = offset;
        lob.writeAmount = *amount_inout;
        lob.writePieces.assign(data, buf_len);
        if (!cb) {
            lob.writing = true;
            return OCI_NEED_DATA;
        }
        while (true) {
            ub4 len = buf_len;
            ub1 next = OCI_NEXT_PIECE;
            if (cb(ctx, buf, &len, &next) != OCI_CONTINUE) throw OraError(24343);
            if (len > buf_len || (next != OCI_NEXT_PIECE && next != OCI_LAST_PIECE))
                throw OraError(24801);
            lob.writePieces.append(data, len);
            if (next == OCI_LAST_PIECE) break;
        }
        std::string pieces = std::move(lob.writePieces);
        lob.writePieces.clear();
        *amount_inout = WriteAt(*locator, offset, std::move(pieces), lob.writeAmount);
        return OCI_SUCCESS;
    });
}

VELNOR_EXPORT sword OCILobTrim(OCISvcCtx* svc, OCIError* err, OCILobLocator* loc, ub4 newlen) {
    TDescriptor* locator = Locator(loc);
    if (!locator || !ValidError(err)) return OCI_INVALID_HANDLE;
    return Guard(err, [&] {
        (void)svc;
        const TLobState& lob = Writable(*locator);
        const bool blob = lob.type == SQLT_BLOB;
        std::string data = WholeValue(lob);
        if (newlen > Units(blob, data)) throw OraError(22926);
        data.resize(ByteOfUnit(blob, data, newlen));
        Store(lob, data);
        return OCI_SUCCESS;
    });
}

VELNOR_EXPORT sword OCILobErase(OCISvcCtx* svc, OCIError* err, OCILobLocator* loc, ub4* amount,
                                ub4 offset) {
    TDescriptor* locator = Locator(loc);
    if (!locator || !ValidError(err) || !amount) return OCI_INVALID_HANDLE;
    return Guard(err, [&] {
        (void)svc;
        const TLobState& lob = Writable(*locator);
        if (offset == 0) throw OraError(24801);
        const bool blob = lob.type == SQLT_BLOB;
        std::string data = WholeValue(lob);
        const std::size_t length = Units(blob, data);
        // Erasing stops at the end; the amount tells how much was erased.
        const std::size_t n =
            offset > length ? 0 : std::min<std::size_t>(*amount, length - (offset - 1));
        if (n > 0) {
            Splice(blob, data, offset - 1, n, std::string(n, blob ? '\0' : ' '));
            Store(lob, data);
        }
        *amount = ToUb4(n);
        return OCI_SUCCESS;
    });
}

VELNOR_EXPORT sword OCILobAppend(OCISvcCtx* svc, OCIError* err, OCILobLocator* dst,
                                 OCILobLocator* src) {
    TDescriptor* to = Locator(dst);
    TDescriptor* from = Locator(src);
    if (!to || !from || !ValidError(err)) return OCI_INVALID_HANDLE;
    return Guard(err, [&] {
        (void)svc;
        const TLobState& target = Writable(*to);
        const TLobState& source = Readable(*from, "APPEND");
        if ((target.type == SQLT_BLOB) != (source.type == SQLT_BLOB)) throw OraError(24801);
        std::string data = WholeValue(target);
        data += WholeValue(source);
        Store(target, data);
        return OCI_SUCCESS;
    });
}

VELNOR_EXPORT sword OCILobCopy(OCISvcCtx* svc, OCIError* err, OCILobLocator* dst,
                               OCILobLocator* src, ub4 amount, ub4 dst_offset, ub4 src_offset) {
    TDescriptor* to = Locator(dst);
    TDescriptor* from = Locator(src);
    if (!to || !from || !ValidError(err)) return OCI_INVALID_HANDLE;
    return Guard(err, [&] {
        (void)svc;
        const TLobState& target = Writable(*to);
        const TLobState& source = Readable(*from, "COPY");
        const bool blob = target.type == SQLT_BLOB;
        if (blob != (source.type == SQLT_BLOB) || dst_offset == 0 || src_offset == 0)
            throw OraError(24801);
        const std::string whole = WholeValue(source);
        const std::size_t begin = ByteOfUnit(blob, whole, src_offset - 1);
        const std::size_t end = ByteOfUnit(blob, whole, std::size_t{src_offset} - 1 + amount);
        const std::string_view piece = std::string_view(whole).substr(begin, end - begin);
        std::string data = WholeValue(target);
        Splice(blob, data, dst_offset - 1, Units(blob, piece), piece);
        Store(target, data);
        return OCI_SUCCESS;
    });
}
