#include "app/core/CsvLob.h"

#include "app/core/CsvReader.h"
#include "oracle/query/OracleConvert.h"
#include "oracle/query/detail/TypeCodes.h"
#include "platform/DateTime.h"

namespace velnor::app {
namespace {

// Quotes doubled; with convertCRLF every line break becomes CR LF, as for VARCHAR2 text.
// A CR ending one piece waits for the next, which may begin with its LF.
class TTextFieldStream {
public:
    TTextFieldStream(TTextFile& file, bool convertCRLF) : file_(file), convertCRLF_(convertCRLF) {}

    void Put(std::string_view piece) {
        out_.clear();
        for (char c : piece) {
            if (pendingCR_) {
                pendingCR_ = false;
                out_ += "\r\n";
                if (c == '\n') continue;
            }
            if (convertCRLF_ && c == '\r') {
                pendingCR_ = true;
            } else if (convertCRLF_ && c == '\n') {
                out_ += "\r\n";
            } else {
                if (c == '"') out_ += '"';
                out_ += c;
            }
        }
        file_.Write(out_);
    }

    void End() {
        if (pendingCR_) file_.Write("\r\n");
        pendingCR_ = false;
    }

private:
    TTextFile& file_;
    bool convertCRLF_;
    bool pendingCR_ = false;
    std::string out_;
};

void PutHex(TTextFile& file, std::string_view bytes, std::string& out) {
    static constexpr char kDigits[] = "0123456789ABCDEF";
    out.clear();
    for (char c : bytes) {
        const auto b = static_cast<unsigned char>(c);
        out += kDigits[b >> 4];
        out += kDigits[b & 15];
    }
    file.Write(out);
}

bool IsHexDigit(char c) noexcept {
    return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F') || (c >= 'a' && c <= 'f');
}

}  // namespace

bool IsCsvLob(int fieldType) noexcept {
    return fieldType == oracle::otCLOB || fieldType == oracle::otBLOB;
}

void AddLobField(TCsvWriter& writer, TTextFile& file, oracle::TLobLocator& lob, bool convertCRLF,
                 bool alone) {
    if (lob.IsNull()) {
        writer.AddEmpty();
        return;
    }
    // A lone NULL field is written "" too, so there an empty LOB would read back as NULL.
    if (alone && lob.Length() == 0) {
        throw platform::EConvertError("空の LOB は 1 列だけの表では NULL と区別して書き出せません");
    }
    file.Write(writer.TakeLineForStreamedField());
    file.Write("\"");
    if (lob.IsBinary()) {
        std::string hex;
        lob.Read([&](std::string_view piece) { PutHex(file, piece, hex); });
    } else {
        TTextFieldStream text(file, convertCRLF);
        lob.Read([&](std::string_view piece) { text.Put(piece); });
        text.End();
    }
    file.Write("\"");
}

void CheckLobField(int fieldType, const std::string& field, std::int64_t line, int column,
                   const std::string& columnName) {
    if (fieldType != oracle::otBLOB) return;
    std::size_t bad = field.size() % 2 ? field.size() - 1 : field.size();
    for (std::size_t i = 0; i < field.size(); ++i) {
        if (!IsHexDigit(field[i])) {
            bad = i;
            break;
        }
    }
    if (bad == field.size()) return;
    const std::string shown = field.size() > 40 ? field.substr(0, 40) + "..." : field;
    throw ECsvError(std::to_string(line) + " 行目 " + std::to_string(column) + " 列目 (" +
                        columnName + "): 16 進数ではありません: " + shown,
                    line, column);
}

}  // namespace velnor::app
