// Exceptions of the access layer and the routine that turns a failed client call into one.
#pragma once
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "oci/OciTypes.h"
#include "platform/Exception.h"

namespace velnor::oracle {
class TOracleSession;

// The longest message kept; longer texts are cut on a character boundary.
inline constexpr std::size_t kMaxErrorMessageLength = 1023;
// Size of the buffer the client library writes a message into.
inline constexpr std::size_t kErrorBufferSize = 4001;

// What a failed call leaves behind: the error handle it reported on (OCI8) or its return
// code (OCI7).
struct TErrorSource {
    OCIError* errorHandle = nullptr;
    int returnCode = 0;
    bool oci8 = false;

    static TErrorSource FromHandle(OCIError* handle) noexcept { return {handle, 0, true}; }
    static TErrorSource FromReturnCode(int code) noexcept { return {nullptr, code, false}; }
};

// An error the database or the client library reported.
class EOracleError : public platform::Exception {
public:
    EOracleError(std::string message, int errorCode);
    // Reads number and text from the client library. Never raises; releases the
    // session's lock once, so an error thrown inside a locked region leaves it unlocked.
    EOracleError(TOracleSession* session, const TErrorSource& source);
    [[nodiscard]] int ErrorCode() const noexcept { return errorCode_; }

    struct TRead {
        std::string message;
        int number = 0;
    };

private:
    explicit EOracleError(TRead read);
    int errorCode_;
};

// An error whose number is listed in WarningCodes.
class EOracleWarning : public EOracleError {
public:
    using EOracleError::EOracleError;
};

// A failure of the transaction-server pooling interface.
class EOracleMTSError : public platform::Exception {
public:
    // Number 0 passes `functionName` on as the whole message.
    EOracleMTSError(const std::string& functionName, int errorCode);
    [[nodiscard]] int ErrorCode() const noexcept { return errorCode_; }
    // The table text of an MTS error number, "" when unknown.
    [[nodiscard]] static std::string_view MessageText(int errorCode) noexcept;

private:
    int errorCode_;
};

// Raises EOracleWarning when the error number is a listed warning, else EOracleError.
[[noreturn]] void RaiseOracleError(TOracleSession* session, const TErrorSource& source);

// Refuses features that need a connected OCI8 session, with a message naming `feature`.
void CheckSessionFeature(const TOracleSession* session, std::string_view feature);

// `text` cut to `limit` bytes without splitting a UTF-8 sequence.
[[nodiscard]] std::string CutErrorMessage(std::string_view text,
                                          std::size_t limit = kMaxErrorMessageLength);

// Error numbers raised as warnings. Loaded once, from the current user's registry, and only
// when a debugger is attached; absent otherwise.
[[nodiscard]] const std::optional<std::vector<int>>& WarningCodes();
// Reads the list under the warnings key: values "1", "2", ... up to the first missing or
// empty one; "*" at the start skips a value, text that is no number is ignored.
[[nodiscard]] std::vector<int> ReadWarningCodes();
// Replaces the process's list (used at start-up, and by tests).
void SetWarningCodes(std::optional<std::vector<int>> codes);

}  // namespace velnor::oracle
