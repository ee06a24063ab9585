#include "platform/Registry.h"

#include <algorithm>
#include <charconv>

#include "platform/Text.h"

namespace velnor::platform {
namespace {

constexpr std::string_view kEditorHeader = "Windows Registry Editor Version 5.00";
constexpr std::string_view kOldEditorHeader = "REGEDIT4";
constexpr std::uint32_t kBinaryType = 3;

std::string_view TrimRight(std::string_view text) {
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t' || text.back() == '\r')) {
        text.remove_suffix(1);
    }
    return text;
}

std::string_view TrimLeft(std::string_view text) {
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
    return text;
}

void AppendUtf8(std::string& out, std::uint32_t code) {
    if (code < 0x80) {
        out += static_cast<char>(code);
    } else if (code < 0x800) {
        out += static_cast<char>(0xC0 | (code >> 6));
        out += static_cast<char>(0x80 | (code & 0x3F));
    } else if (code < 0x10000) {
        out += static_cast<char>(0xE0 | (code >> 12));
        out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (code & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (code >> 18));
        out += static_cast<char>(0x80 | ((code >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (code & 0x3F));
    }
}

// UTF-16LE to UTF-8; unpaired surrogates become U+FFFD, decoding stops at a zero unit
// when stopAtZero is set.
std::string Utf16ToUtf8(const std::uint8_t* data, std::size_t size, bool stopAtZero) {
    std::string out;
    out.reserve(size / 2);
    for (std::size_t i = 0; i + 1 < size; i += 2) {
        std::uint32_t unit = data[i] | (static_cast<std::uint32_t>(data[i + 1]) << 8);
        if (unit == 0 && stopAtZero) break;
        if (unit >= 0xD800 && unit <= 0xDBFF && i + 3 < size) {
            const std::uint32_t low = data[i + 2] | (static_cast<std::uint32_t>(data[i + 3]) << 8);
            if (low >= 0xDC00 && low <= 0xDFFF) {
                AppendUtf8(out, 0x10000 + ((unit - 0xD800) << 10) + (low - 0xDC00));
                i += 2;
                continue;
            }
        }
        if (unit >= 0xD800 && unit <= 0xDFFF) unit = 0xFFFD;
        AppendUtf8(out, unit);
    }
    return out;
}

std::string DecodeFileText(std::string_view text) {
    if (text.size() >= 2 && static_cast<unsigned char>(text[0]) == 0xFF &&
        static_cast<unsigned char>(text[1]) == 0xFE) {
        return Utf16ToUtf8(reinterpret_cast<const std::uint8_t*>(text.data()) + 2, text.size() - 2,
                           false);
    }
    if (text.substr(0, 3) == "\xEF\xBB\xBF") text.remove_prefix(3);
    return std::string(text);
}

// Splits on backslashes and drops empty parts, keeping the spelling.
std::string NormalizeKey(std::string_view key) {
    std::string result;
    std::size_t start = 0;
    while (start <= key.size()) {
        std::size_t end = key.find('\\', start);
        if (end == std::string_view::npos) end = key.size();
        if (end > start) {
            if (!result.empty()) result += '\\';
            result.append(key.substr(start, end - start));
        }
        start = end + 1;
    }
    return result;
}

// True when `path` is `key` or lies below it (both normalised).
bool IsAtOrBelow(std::string_view path, std::string_view key) {
    if (key.empty()) return true;
    if (path.size() == key.size()) return SameText(path, key);
    return path.size() > key.size() && path[key.size()] == '\\' &&
           SameText(path.substr(0, key.size()), key);
}

void AppendQuoted(std::string& out, std::string_view text) {
    out += '"';
    for (const char c : text) {
        switch (c) {
            case '\\':
                out += "\\\\";
                break;
            case '"':
                out += "\\\"";
                break;
            case '\n':
                out += "\\n";
                break;
            case '\r':
                out += "\\r";
                break;
            default:
                out += c;
        }
    }
    out += '"';
}

// Reads a quoted text at the start of `text`; the rest is left in `text`.
std::optional<std::string> ReadQuoted(std::string_view& text) {
    if (text.empty() || text.front() != '"') return std::nullopt;
    std::string out;
    for (std::size_t i = 1; i < text.size(); ++i) {
        const char c = text[i];
        if (c == '"') {
            text.remove_prefix(i + 1);
            return out;
        }
        if (c == '\\' && i + 1 < text.size()) {
            const char next = text[++i];
            switch (next) {
                case '\\':
                    out += '\\';
                    break;
                case '"':
                    out += '"';
                    break;
                case 'n':
                    out += '\n';
                    break;
                case 'r':
                    out += '\r';
                    break;
                default:  // not an escape the editor writes: keep it as it stands
                    out += '\\';
                    out += next;
            }
            continue;
        }
        out += c;
    }
    return std::nullopt;
}

std::optional<std::uint32_t> ParseHexNumber(std::string_view digits, std::size_t maxDigits) {
    if (digits.empty() || digits.size() > maxDigits) return std::nullopt;
    std::uint32_t value = 0;
    const auto [end, error] =
        std::from_chars(digits.data(), digits.data() + digits.size(), value, 16);
    if (error != std::errc() || end != digits.data() + digits.size()) return std::nullopt;
    return value;
}

std::optional<TRegistryValue> ParseData(std::string_view data) {
    data = TrimRight(TrimLeft(data));
    if (data.empty()) return std::nullopt;
    if (data.front() == '"') {
        auto text = ReadQuoted(data);
        if (!text || !TrimLeft(data).empty()) return std::nullopt;
        return TRegistryValue::FromString(std::move(*text));
    }
    if (StartsWithText(data, "dword:")) {
        const auto value = ParseHexNumber(data.substr(6), 8);
        if (!value) return std::nullopt;
        return TRegistryValue::FromDword(*value);
    }
    if (!StartsWithText(data, "hex")) return std::nullopt;
    data.remove_prefix(3);
    std::uint32_t type = kBinaryType;
    if (!data.empty() && data.front() == '(') {
        const auto close = data.find(')');
        if (close == std::string_view::npos) return std::nullopt;
        const auto number = ParseHexNumber(data.substr(1, close - 1), 8);
        if (!number) return std::nullopt;
        type = *number;
        data.remove_prefix(close + 1);
    }
    if (data.empty() || data.front() != ':') return std::nullopt;
    data.remove_prefix(1);
    std::vector<std::uint8_t> bytes;
    std::string digits;
    for (const char c : data) {
        if (c == ' ' || c == '\t') continue;
        if (c != ',') {
            digits += c;
            continue;
        }
        const auto byte = ParseHexNumber(digits, 2);
        if (!byte) return std::nullopt;
        bytes.push_back(static_cast<std::uint8_t>(*byte));
        digits.clear();
    }
    if (!digits.empty()) {
        const auto byte = ParseHexNumber(digits, 2);
        if (!byte) return std::nullopt;
        bytes.push_back(static_cast<std::uint8_t>(*byte));
    }
    return TRegistryValue::FromBytes(std::move(bytes), type);
}

// A line can carry on hex data only when it cannot start anything else: a damaged
// trailing backslash must not swallow the next key or value.
bool ContinuesData(std::string_view line) {
    const std::string_view content = TrimLeft(line);
    return !content.empty() &&
           std::string_view("[\"@;").find(content.front()) == std::string_view::npos;
}

// Lower-case hex digits of the low `digits` nibbles of `number`, as the editor writes them.
void AppendHexDigits(std::string& out, std::uint32_t number, int digits) {
    static constexpr char kDigits[] = "0123456789abcdef";
    for (int i = digits - 1; i >= 0; --i) out += kDigits[(number >> (4 * i)) & 0xF];
}

// Appends `name` unless a name equal to it without case is there already.
void AddName(std::vector<std::string>& names, std::string_view name) {
    const bool known = std::any_of(names.begin(), names.end(),
                                   [&](const std::string& n) { return SameText(n, name); });
    if (!known) names.emplace_back(name);
}

void AppendHex(std::string& out, const TRegistryValue& value) {
    std::size_t column = out.size();  // `out` holds the start of this line only
    for (std::size_t i = 0; i < value.bytes.size(); ++i) {
        AppendHexDigits(out, value.bytes[i], 2);
        column += 2;
        if (i + 1 == value.bytes.size()) break;
        out += ',';
        ++column;
        if (column >= 76) {  // the editor's own line width
            out += "\\\n  ";
            column = 2;
        }
    }
}

std::string FormatValueLine(std::string_view name, const TRegistryValue& value) {
    std::string out;
    if (name.empty()) {
        out = "@";
    } else {
        AppendQuoted(out, name);
    }
    out += '=';
    switch (value.kind) {
        case TRegistryValue::Kind::String:
            AppendQuoted(out, value.text);
            break;
        case TRegistryValue::Kind::Dword:
            out += "dword:";
            AppendHexDigits(out, value.dword, 8);
            break;
        case TRegistryValue::Kind::Binary:
            if (value.binaryType == kBinaryType) {
                out += "hex:";
            } else {
                char number[9];
                const auto end =
                    std::to_chars(number, number + sizeof number, value.binaryType, 16).ptr;
                out += "hex(";
                out.append(number, end);
                out += "):";
            }
            AppendHex(out, value);
            break;
    }
    return out;
}

void CheckName(std::string_view text, const char* what) {
    if (text.find_first_of(std::string_view("\r\n\0", 3)) != std::string_view::npos) {
        throw ERegistryError(std::string("Invalid registry ") + what);
    }
}

std::string LineProblem(std::size_t line, std::string_view what) {
    return "line " + std::to_string(line) + ": " + std::string(what);
}

}  // namespace

std::string_view RootName(TRegistryRoot root) noexcept {
    return root == TRegistryRoot::CurrentUser ? "HKEY_CURRENT_USER" : "HKEY_LOCAL_MACHINE";
}

TRegistryValue TRegistryValue::FromString(std::string text) {
    TRegistryValue value;
    value.text = std::move(text);
    return value;
}

TRegistryValue TRegistryValue::FromDword(std::uint32_t dwordValue) {
    TRegistryValue value;
    value.kind = Kind::Dword;
    value.dword = dwordValue;
    return value;
}

TRegistryValue TRegistryValue::FromBytes(std::vector<std::uint8_t> data, std::uint32_t type) {
    TRegistryValue value;
    value.kind = Kind::Binary;
    value.bytes = std::move(data);
    value.binaryType = type;
    return value;
}

std::string TRegistryValue::AsString() const {
    switch (kind) {
        case Kind::String:
            return text;
        case Kind::Dword:
            return std::to_string(dword);
        case Kind::Binary:
            break;
    }
    constexpr std::uint32_t kSz = 1, kExpandSz = 2, kDwordType = 4, kMultiSz = 7, kQword = 11;
    if (binaryType == kSz || binaryType == kExpandSz || binaryType == kMultiSz) {
        return Utf16ToUtf8(bytes.data(), bytes.size(), true);
    }
    if ((binaryType == kDwordType && bytes.size() == 4) ||
        (binaryType == kQword && bytes.size() == 8)) {
        std::uint64_t number = 0;
        for (std::size_t i = bytes.size(); i-- > 0;) number = (number << 8) | bytes[i];
        return std::to_string(number);
    }
    std::size_t size = bytes.size();
    while (size > 0 && bytes[size - 1] == 0) --size;
    return std::string(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(size));
}

TRegistryTree::TRegistryTree(std::string rootName) : rootName_(std::move(rootName)) {}

std::optional<TRegistryValue> TRegistryTree::Value(std::string_view key,
                                                   std::string_view name) const {
    const std::string path = NormalizeKey(key);
    for (auto section = sections_.rbegin(); section != sections_.rend(); ++section) {
        if (section->foreign || !SameText(section->path, path)) continue;
        for (auto line = section->lines.rbegin(); line != section->lines.rend(); ++line) {
            if (line->parsed && SameText(line->name, name)) return line->value;
        }
    }
    return std::nullopt;
}

std::string TRegistryTree::ReadString(std::string_view key, std::string_view name) const {
    const auto value = Value(key, name);
    return value ? value->AsString() : std::string();
}

TRegistryTree::TSection& TRegistryTree::SectionFor(std::string_view key) {
    CheckName(key, "key name");
    const std::string path = NormalizeKey(key);
    for (auto section = sections_.rbegin(); section != sections_.rend(); ++section) {
        if (!section->foreign && SameText(section->path, path)) return *section;
    }
    TSection& section = sections_.emplace_back();
    section.path = path;
    return section;
}

void TRegistryTree::WriteValue(std::string_view key, std::string_view name, TRegistryValue value) {
    CheckName(name, "value name");
    TSection& target = SectionFor(key);
    // The newest stored line keeps its place and spelling; older duplicates go.
    bool stored = false;
    for (auto section = sections_.rbegin(); section != sections_.rend(); ++section) {
        if (section->foreign || !SameText(section->path, target.path)) continue;
        auto& lines = section->lines;
        for (std::size_t i = lines.size(); i-- > 0;) {
            if (!lines[i].parsed || !SameText(lines[i].name, name)) continue;
            if (stored) {
                lines.erase(lines.begin() + static_cast<std::ptrdiff_t>(i));
            } else {
                lines[i].value = value;
                lines[i].raw.clear();
                stored = true;
            }
        }
    }
    if (stored) return;
    auto at = target.lines.end();  // before the blank lines that end the key
    while (at != target.lines.begin() && std::prev(at)->raw.empty() && !std::prev(at)->parsed) --at;
    TLine line;
    line.parsed = true;
    line.name = std::string(name);
    line.value = std::move(value);
    target.lines.insert(at, std::move(line));
}

void TRegistryTree::WriteString(std::string_view key, std::string_view name,
                                std::string_view value) {
    WriteValue(key, name, TRegistryValue::FromString(std::string(value)));
}

void TRegistryTree::WriteDword(std::string_view key, std::string_view name, std::uint32_t value) {
    WriteValue(key, name, TRegistryValue::FromDword(value));
}

void TRegistryTree::CreateKey(std::string_view key) { SectionFor(key); }

void TRegistryTree::RetireValue(std::string_view key, std::string_view name) {
    const std::string path = NormalizeKey(key);
    for (TSection& section : sections_) {
        if (section.foreign || !SameText(section.path, path)) continue;
        for (TLine& line : section.lines) {
            if (line.parsed && SameText(line.name, name)) line.parsed = false;
        }
    }
}

void TRegistryTree::RetireKeyAndBelow(std::string_view key) {
    const std::string path = NormalizeKey(key);
    for (TSection& section : sections_) {
        if (section.foreign || !IsAtOrBelow(section.path, path)) continue;
        section.foreign = true;
        for (TLine& line : section.lines) line.parsed = false;
    }
}

void TRegistryTree::RemoveValue(std::string_view key, std::string_view name) {
    const std::string path = NormalizeKey(key);
    for (TSection& section : sections_) {
        if (section.foreign || !SameText(section.path, path)) continue;
        std::erase_if(section.lines,
                      [&](const TLine& line) { return line.parsed && SameText(line.name, name); });
    }
}

bool TRegistryTree::DeleteValue(std::string_view key, std::string_view name) {
    if (!Value(key, name)) return false;
    RemoveValue(key, name);
    return true;
}

void TRegistryTree::RemoveKeyAndBelow(std::string_view key) {
    const std::string path = NormalizeKey(key);
    std::erase_if(sections_, [&](const TSection& section) {
        return !section.foreign && IsAtOrBelow(section.path, path);
    });
}

bool TRegistryTree::DeleteKey(std::string_view key) {
    if (NormalizeKey(key).empty() || !KeyExists(key)) return false;  // the root stays
    RemoveKeyAndBelow(key);
    return true;
}

bool TRegistryTree::KeyExists(std::string_view key) const {
    const std::string path = NormalizeKey(key);
    if (path.empty()) return true;
    return std::any_of(sections_.begin(), sections_.end(), [&](const TSection& section) {
        return !section.foreign && IsAtOrBelow(section.path, path);
    });
}

std::vector<std::string> TRegistryTree::ValueNames(std::string_view key) const {
    const std::string path = NormalizeKey(key);
    std::vector<std::string> names;
    for (const TSection& section : sections_) {
        if (section.foreign || !SameText(section.path, path)) continue;
        for (const TLine& line : section.lines) {
            if (line.parsed) AddName(names, line.name);
        }
    }
    return names;
}

std::vector<std::string> TRegistryTree::SubKeyNames(std::string_view key) const {
    const std::string path = NormalizeKey(key);
    std::vector<std::string> names;
    for (const TSection& section : sections_) {
        if (section.foreign || section.path.size() <= path.size() ||
            !IsAtOrBelow(section.path, path)) {
            continue;
        }
        std::string_view rest = section.path;
        rest.remove_prefix(path.empty() ? 0 : path.size() + 1);
        AddName(names, rest.substr(0, rest.find('\\')));
    }
    return names;
}

TRegistryTree TRegistryTree::Parse(std::string_view fileText, std::string_view rootName) {
    TRegistryTree tree{std::string(rootName)};
    const std::string decoded = DecodeFileText(fileText);
    std::vector<std::string_view> lines;
    for (std::size_t start = 0; start < decoded.size();) {
        std::size_t end = decoded.find('\n', start);
        if (end == std::string::npos) end = decoded.size();
        lines.push_back(TrimRight(std::string_view(decoded).substr(start, end - start)));
        start = end + 1;
    }

    std::size_t index = 0;
    while (index < lines.size() && TrimLeft(lines[index]).empty()) ++index;
    if (index == lines.size()) return tree;
    if (lines[index] != kEditorHeader && lines[index] != kOldEditorHeader) {
        throw ERegistryError("Not a registry file: the first line is not \"" +
                             std::string(kEditorHeader) + "\"");
    }
    tree.header_ = std::string(lines[index++]);

    TSection* section = nullptr;
    const auto keepRaw = [&](std::string raw) {
        TLine line;
        line.raw = std::move(raw);
        if (section) {
            section->lines.push_back(std::move(line));
        } else {
            tree.preface_.push_back(std::move(line.raw));
        }
    };

    for (; index < lines.size(); ++index) {
        const std::size_t lineNumber = index + 1;
        const std::string_view line = lines[index];
        const std::string_view content = TrimLeft(line);
        // Blank lines are kept too: they also end hex data carried over lines.
        if (content.empty() || content.front() == ';') {
            keepRaw(std::string(line));
            continue;
        }
        if (content.front() == '[') {
            std::string_view inner = content;
            if (inner.size() < 2 || inner.back() != ']') {
                tree.problems_.push_back(LineProblem(lineNumber, "unreadable key line"));
                section = &tree.sections_.emplace_back();
                section->foreign = true;
                section->header = std::string(line);
                continue;
            }
            inner = inner.substr(1, inner.size() - 2);
            const bool deletion = !inner.empty() && inner.front() == '-';
            if (deletion) inner.remove_prefix(1);
            const std::string_view root = inner.substr(0, inner.find('\\'));
            const bool ours = SameText(root, tree.rootName_);
            // Deleted keys and the deletion line itself stay where they stood: nothing in the
            // file is lost, and keys written after the line survive a re-read.
            if (ours && deletion) tree.RetireKeyAndBelow(inner.substr(root.size()));
            section = &tree.sections_.emplace_back();
            section->header = std::string(line);
            if (ours && !deletion) {
                section->path = NormalizeKey(inner.substr(root.size()));
            } else {
                section->foreign = true;
                if (!ours) {
                    tree.problems_.push_back(
                        LineProblem(lineNumber, "key outside " + tree.rootName_ + " kept unread"));
                }
            }
            continue;
        }

        // A value line; hex data may continue over lines ending in a backslash.
        std::string logical(content);
        std::string raw(line);
        std::string_view rest = content;
        std::optional<std::string> name;
        if (rest.front() == '@') {
            rest.remove_prefix(1);
            name = std::string();
        } else {
            name = ReadQuoted(rest);
        }
        rest = TrimLeft(rest);
        const bool assigned = name && !rest.empty() && rest.front() == '=';
        if (assigned && StartsWithText(TrimLeft(rest.substr(1)), "hex")) {
            while (!logical.empty() && logical.back() == '\\' && index + 1 < lines.size() &&
                   ContinuesData(lines[index + 1])) {
                logical.pop_back();
                logical.append(TrimLeft(lines[++index]));
                raw += '\n';
                raw.append(lines[index]);
            }
        }
        if (!section || section->foreign) {
            if (!section) tree.problems_.push_back(LineProblem(lineNumber, "value outside a key"));
            keepRaw(std::move(raw));
            continue;
        }
        std::string_view data = logical;
        if (assigned) {
            data.remove_prefix(data.find('=', content.size() - rest.size()) + 1);
        }
        if (assigned && TrimLeft(data) == "-") {
            tree.RetireValue(section->path, *name);
            keepRaw(std::move(raw));
            continue;
        }
        auto value = assigned ? ParseData(data) : std::nullopt;
        if (!value) {
            tree.problems_.push_back(LineProblem(lineNumber, "unreadable value line kept"));
            keepRaw(std::move(raw));
            continue;
        }
        TLine& parsed = section->lines.emplace_back();
        parsed.parsed = true;
        parsed.raw = std::move(raw);
        parsed.name = std::move(*name);
        parsed.value = std::move(*value);
    }
    return tree;
}

std::string TRegistryTree::Serialize() const {
    const auto endBlank = [](std::string& out) {
        if (!out.ends_with("\n\n")) out += '\n';
    };
    std::string out = header_ + "\n";
    for (const std::string& raw : preface_) out += raw + "\n";
    for (const TSection& section : sections_) {
        endBlank(out);
        if (!section.header.empty()) {
            out += section.header;
        } else {
            out += '[' + rootName_;
            if (!section.path.empty()) out += '\\' + section.path;
            out += ']';
        }
        out += '\n';
        for (const TLine& line : section.lines) {
            // Lines read from the file and not changed since go back as they were.
            out +=
                line.parsed && line.raw.empty() ? FormatValueLine(line.name, line.value) : line.raw;
            out += '\n';
        }
    }
    endBlank(out);
    return out;
}

}  // namespace velnor::platform
