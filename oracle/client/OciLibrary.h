// The client library, loaded once per process: home discovery, loading, binding of every
// entry point into one table of typed pointers, and the library's one-time initialisation.
#pragma once
#include <string>

#include "oci/EntryPoints.h"
#include "oci/OciFunctions.h"
#include "platform/CriticalSection.h"

namespace velnor::oracle {

// Raised when code calls an entry point the loaded library does not export.
[[noreturn]] void RaiseUnboundEntryPoint(const char* name);

template <class Fn>
class TEntryPoint;

// One bound entry point. Calling it while unbound raises instead of jumping to null.
template <class R, class... A>
class TEntryPoint<R (*)(A...)> {
public:
    using Function = R (*)(A...);
    explicit constexpr TEntryPoint(const char* name) noexcept : name_(name) {}

    R operator()(A... args) const {
        if (!fn_) RaiseUnboundEntryPoint(name_);
        return fn_(args...);
    }
    [[nodiscard]] explicit operator bool() const noexcept { return fn_ != nullptr; }
    [[nodiscard]] Function Get() const noexcept { return fn_; }
    [[nodiscard]] const char* Name() const noexcept { return name_; }
    void Set(void* symbol) noexcept { fn_ = reinterpret_cast<Function>(symbol); }
    void Reset() noexcept { fn_ = nullptr; }

private:
    Function fn_ = nullptr;
    const char* name_;
};

// Every entry point of the client library and of its MTS companion, null until bound.
struct TOciFunctions {
#define VELNOR_DECLARE_SLOT(name) TEntryPoint<Fn##name> name{#name};
    VELNOR_CLIENT_ENTRY_POINTS(VELNOR_DECLARE_SLOT)
    VELNOR_MTS_ENTRY_POINTS(VELNOR_DECLARE_SLOT)
#undef VELNOR_DECLARE_SLOT
};

// The process's table. Written only under GlobalOCILock while loading and unloading.
[[nodiscard]] const TOciFunctions& Oci() noexcept;

// Serialises loading, and the logons and logoffs of thread-safe sessions.
[[nodiscard]] platform::TOracleCriticalSection& GlobalOCILock() noexcept;

// Results of binding. OCI8 is used only when its whole group is present.
[[nodiscard]] bool OCI7Available() noexcept;
[[nodiscard]] bool OLogAvailable() noexcept;
[[nodiscard]] bool OPInitAvailable() noexcept;
[[nodiscard]] bool OCI8Available() noexcept;
[[nodiscard]] bool UseOCI8() noexcept;
[[nodiscard]] bool OCI81Available() noexcept;
[[nodiscard]] bool MTSAvailable() noexcept;
[[nodiscard]] bool OCILoaded() noexcept;

// Path of the client library: forced by the OCIDLL=... argument, preset, or found.
[[nodiscard]] std::string OCIDLL();
// Presets the path for the next load; a preset path survives UnloadOCI.
void SetOCIDLL(std::string path);
[[nodiscard]] bool OCIDLLAutoChosen() noexcept;
[[nodiscard]] std::string OracleHomeKey();
[[nodiscard]] std::string OracleHomeDir();
// The loader's diagnostic lines, separated by "\r\n".
[[nodiscard]] std::string LoaderLog();
// Set by the last load when the user's NLS_LANG gives the client a character set other
// than Velnor's: says so, for the logon to show. Empty otherwise.
[[nodiscard]] std::string ClientCharacterSetWarning();
// The client character set NLS_LANG gave the loaded client ("AL32UTF8"); "" when nothing is
// loaded. Text buffers size from it with MaxBytesPerCharacter.
[[nodiscard]] std::string ClientCharacterSet();

// Loads, binds and initialises the library on the first call; later calls return at once.
// Raises platform::Exception "Initialization error\r\n..." with the loader log on failure.
void InitializeOCI();
// Frees both libraries, nulls every entry point and forgets what the search chose.
void UnloadOCI() noexcept;
// Run at process end, before the library is unloaded (the sessions log off there).
void SetBeforeExitUnload(void (*hook)()) noexcept;
// Undoes the working-directory change of a load that had to be retried from its folder.
void RestoreCurrentDirectory() noexcept;
// Loads and binds the MTS companion library next to the client library.
void InitializeMTS();

// The registry key of the Oracle home in use (cached until UnloadOCI).
[[nodiscard]] std::string FindOracleHomeKey();
// Result codes of ChooseOCIDLL and LoadOCI.
enum TLoadResult { lrLoaded = 0, lrNotFound = 1, lrNotInitialized = 2, lrNoHome = 3 };
// Fills OCIDLL from the argument, the preset or the home's candidates.
[[nodiscard]] TLoadResult ChooseOCIDLL();

}  // namespace velnor::oracle
