#include "oracle/client/OracleError.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cstring>
#include <mutex>

#include "oracle/client/OciLibrary.h"
#include "oracle/session/OracleSession.h"
#include "oracle/session/SessionLock.h"
#include "platform/Registry.h"
#include "platform/System.h"

namespace velnor::oracle {
namespace {

constexpr const char* kWarningsKey = "SOFTWARE\\Quendrix\\ZEL\\Warnings";

struct TMtsText {
    int number;
    const char* text;
};

constexpr TMtsText kMtsTexts[] = {
    {1001, "no MTXDM.DLL available"},   {1002, "failure to create dispen"},
    {1003, "exceeded max sessions"},    {1004, "invalid OCI Svc ctx"},
    {1005, "can't create new dbiden"},  {2001, "unable to alloc a server"},
    {3001, "invalid server object"},    {3002, "failed attach to Oracle"},
    {3003, "failed detach from db"},    {3004, "failed to start trans."},
    {3005, "OCI set attrib failed"},    {3006, "conn to Oracle broken"},
    {3007, "not attached to Oracle"},   {3008, "alrdy attached to Oracle"},
    {4001, "invalid session object"},   {4002, "failed logon to Oracle"},
    {4003, "failed logoff from db"},    {4004, "no transaction beneath"},
    {4005, "already logged on to db"},  {4006, "not logged on to Oracle"},
    {5001, "RPC context is invalid"},   {5002, "generic communic. error"},
    {5003, "endpoint already connect"}, {5004, "endpoint not connected"},
    {5005, "protocol violation"},       {5006, "timeout accepting conn."},
    {5007, "invalid RPC opcode"},       {5008, "mismatched incarnation#"},
    {5009, "client connect timeout"},   {5010, "synch. send timeout"},
    {5011, "synch. receive timedout"},  {5012, "connection reset by peer"},
    {6001, "invalid args to function"}, {6002, "an object was invalid"},
    {6003, "illegal operation"},        {6004, "memory allocation error"},
    {6005, "synchr. object error"},     {6006, "no Oracle Proxy server"},
    {6007, "session already enlisted"}, {6008, "session is not enlisted"},
    {6009, "illeg on manuenlst sess"},  {6010, "illeg on autoenlst sess"},
    {6011, "error detaching trans."},   {6012, "OCI handle alloc error"},
    {6013, "OCI handle dealloc error"}, {6014, "error exporting trans."},
};

std::mutex& WarningMutex() {
    static std::mutex m;
    return m;
}

std::optional<std::vector<int>>& WarningList() {
    // Loaded once when the access layer is first used, and only under a debugger.
    static std::optional<std::vector<int>> list = [] {
        std::optional<std::vector<int>> codes;
        try {
            if (platform::DebuggerPresent()) codes = ReadWarningCodes();
        } catch (...) {
            // An unreadable registry means no warnings: every error stays an error.
        }
        return codes;
    }();
    return list;
}

// The number of the first error record on `handle`, 0 when there is none.
int ErrorNumberOf(OCIError* handle, OraText* buffer, ub4 size) noexcept {
    const TOciFunctions& t = Oci();
    if (!handle || !t.OCIErrorGet) return 0;
    sb4 code = 0;
    t.OCIErrorGet.Get()(handle, 1, nullptr, &code, buffer, size, OCI_HTYPE_ERROR);
    return code;
}

}  // namespace

EOracleError::EOracleError(std::string message, int errorCode)
    : platform::Exception(std::move(message)), errorCode_(errorCode) {}

EOracleError::EOracleError(TRead read)
    : platform::Exception(std::move(read.message)), errorCode_(read.number) {}

namespace {
EOracleError::TRead ReadError(TOracleSession* session, const TErrorSource& source) {
    std::array<OraText, kErrorBufferSize> buffer{};
    int number = 0;
    if (source.oci8) {
        number = ErrorNumberOf(source.errorHandle, buffer.data(), kErrorBufferSize);
    } else {
        number = source.returnCode;
        const TOciFunctions& t = Oci();
        if (t.oerhms) {
            Lda_Def* lda = session ? session->CurrentLDA() : nullptr;
            t.oerhms.Get()(lda, static_cast<sb2>(source.returnCode), buffer.data(),
                           static_cast<sword>(kErrorBufferSize));
        }
    }
    buffer.back() = 0;  // the library may have filled the whole buffer
    detail::ReleaseSessionForError(session);
    const auto* text = reinterpret_cast<const char*>(buffer.data());
    return {CutErrorMessage(std::string_view(text, std::strlen(text))), number};
}
}  // namespace

EOracleError::EOracleError(TOracleSession* session, const TErrorSource& source)
    : EOracleError(ReadError(session, source)) {}

EOracleMTSError::EOracleMTSError(const std::string& functionName, int errorCode)
    : platform::Exception(errorCode == 0 ? functionName
                                         : "MTS error " + std::to_string(errorCode) + ": " +
                                               std::string(MessageText(errorCode)) +
                                               "\r\nin function " + functionName),
      errorCode_(errorCode) {}

std::string_view EOracleMTSError::MessageText(int errorCode) noexcept {
    if (errorCode == 0) return {};
    for (const auto& entry : kMtsTexts) {
        if (entry.number == errorCode) return entry.text;
    }
    return {};
}

void RaiseOracleError(TOracleSession* session, const TErrorSource& source) {
    bool warning = false;
    {
        std::lock_guard lock(WarningMutex());
        const auto& codes = WarningList();
        if (codes && !codes->empty()) {
            std::array<OraText, kErrorBufferSize> buffer{};
            const int number =
                source.oci8 ? ErrorNumberOf(source.errorHandle, buffer.data(), kErrorBufferSize)
                            : source.returnCode;
            warning = std::find(codes->begin(), codes->end(), number) != codes->end();
        }
    }
    if (warning) throw EOracleWarning(session, source);
    throw EOracleError(session, source);
}

void CheckSessionFeature(const TOracleSession* session, std::string_view feature) {
    const std::string name(feature);
    if (!session) throw platform::Exception(name + " requires a session");
    if (!session->Connected()) throw platform::Exception(name + " requires a connected session");
    if (!session->UsingOCI8()) {
        if (OCI8Available()) {
            throw platform::Exception(name + " requires OCI8 mode, but OCI7 mode is used.");
        }
        throw platform::Exception(name + " requires Net8, which is not detected on this PC");
    }
}

std::string CutErrorMessage(std::string_view text, std::size_t limit) {
    if (text.size() <= limit) return std::string(text);
    std::size_t end = limit;
    // Back up over continuation bytes so the cut falls before a whole character.
    while (end > 0 && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80) --end;
    return std::string(text.substr(0, end));
}

const std::optional<std::vector<int>>& WarningCodes() {
    std::lock_guard lock(WarningMutex());
    return WarningList();
}

std::vector<int> ReadWarningCodes() {
    std::vector<int> codes;
    for (int n = 1;; ++n) {
        const std::string value = platform::ReadRegistryString(platform::TRegistryRoot::CurrentUser,
                                                               kWarningsKey, std::to_string(n));
        if (value.empty()) break;
        if (value.front() == '*') continue;
        int code = 0;
        const auto [end, ec] = std::from_chars(value.data(), value.data() + value.size(), code);
        if (ec == std::errc() && end == value.data() + value.size()) codes.push_back(code);
    }
    return codes;
}

void SetWarningCodes(std::optional<std::vector<int>> codes) {
    std::lock_guard lock(WarningMutex());
    WarningList() = std::move(codes);
}

}  // namespace velnor::oracle
