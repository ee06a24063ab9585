#include "oracle/query/LobLocator.h"

#include <cstring>
#include <string>

#include "oracle/client/OciLibrary.h"
#include "oracle/client/StatementBackend.h"
#include "oracle/query/OracleQuery.h"
#include "oracle/query/detail/QueryImpl.h"
#include "platform/DateTime.h"
#include "platform/Exception.h"

namespace velnor::oracle {

using platform::Exception;

namespace {

bool IsLobField(const TFieldData& f) noexcept {
    return f.typeCode == otCLOB || f.typeCode == otBLOB || f.typeCode == otBFile;
}

// Bytes at the end of `text` that begin a UTF-8 character not yet complete.
std::size_t IncompleteTail(std::string_view text) noexcept {
    std::size_t back = 0;
    while (back < text.size() && back < 4) {
        const auto c = static_cast<unsigned char>(text[text.size() - 1 - back]);
        ++back;
        if ((c & 0xC0) == 0x80) continue;  // continuation byte: look further back
        const std::size_t need = c >= 0xF0 ? 4 : c >= 0xE0 ? 3 : c >= 0xC0 ? 2 : 1;
        return need > back ? back : 0;
    }
    return 0;
}

bool ClientIsUtf8() {
    const std::string set = ClientCharacterSet();
    return set == "AL32UTF8" || set == "UTF8";
}

}  // namespace

void* TQueryImpl::LobHandle(const TFieldData& field) const {
    const auto row = static_cast<std::size_t>(currentRow_);
    if (field.IsNull(row)) return nullptr;
    void* handle = nullptr;
    std::memcpy(&handle, field.Row(row), sizeof handle);
    return handle;
}

std::string TQueryImpl::LobValue(const TFieldData& field) const {
    std::string value;
    if (void* handle = LobHandle(field)) {
        statement_->ReadLob(handle, TLobLocator::kChunk,
                            [&value](std::string_view piece) { value.append(piece); });
    }
    return value;
}

TLobLocator& TOracleQuery::FieldLOB(int index) {
    const TFieldData& f = impl_->CheckedField(index);
    if (!IsLobField(f)) throw Exception("Field " + f.Name() + " is not a LOB");
    auto& lobs = impl_->lobs_;
    const auto slot = static_cast<std::size_t>(index);
    if (lobs.size() <= slot) lobs.resize(slot + 1);
    if (!lobs[slot]) lobs[slot] = std::make_unique<TLobLocator>(*impl_, index);
    return *lobs[slot];
}

void* TLobLocator::Handle() const {
    const TFieldData& f = query_.ValueField(index_);
    if (!IsLobField(f)) throw Exception("Field " + f.Name() + " is not a LOB");
    return query_.LobHandle(f);
}

bool TLobLocator::IsNull() const { return Handle() == nullptr; }

bool TLobLocator::IsBinary() const { return query_.CheckedField(index_).typeCode != otCLOB; }

std::uint64_t TLobLocator::Length() {
    void* handle = Handle();
    return handle ? query_.statement_->LobLength(handle) : 0;
}

void TLobLocator::Read(const std::function<void(std::string_view piece)>& sink) {
    void* handle = Handle();
    if (!handle) return;
    if (IsBinary() || !ClientIsUtf8()) {
        query_.statement_->ReadLob(handle, kChunk, sink);
        return;
    }
    // A client may end a piece inside a character: carry its first bytes to the next piece.
    std::string carry;
    query_.statement_->ReadLob(handle, kChunk, [&](std::string_view piece) {
        std::string joined;
        if (!carry.empty()) {
            joined = carry;
            joined.append(piece);
            piece = joined;
        }
        const std::size_t tail = IncompleteTail(piece);
        std::string next(piece.substr(piece.size() - tail));
        if (piece.size() > tail) sink(piece.substr(0, piece.size() - tail));
        carry = std::move(next);
    });
    // A conversion error, so the export names the row and column it met it in.
    if (!carry.empty()) throw platform::EConvertError("The LOB ends inside a character");
}

}  // namespace velnor::oracle
