#include "oracle/client/OciLibrary.h"

#include <atomic>
#include <cstdlib>
#include <memory>
#include <optional>
#include <set>
#include <vector>

#include "oracle/client/OracleHome.h"
#include "oracle/client/SharedObject.h"
#include "platform/DynamicLibrary.h"
#include "platform/Exception.h"
#include "platform/System.h"

namespace velnor::oracle {

namespace {

struct TGroupFlags {
    bool oci7 = false;
    bool olog = false;
    bool opinit = false;
    bool oci8 = false;
    bool oci81 = false;
};

// Everything the loader knows, for the whole process.
struct TLoaderState {
    std::string ociDll;
    bool ociDllAutoChosen = true;
    std::string oracleHomeKey;
    std::string oracleHomeDir;
    std::vector<std::string> log;
    std::vector<platform::TDynamicLibrary> companions;  // opened before the client, in order
    platform::TDynamicLibrary client;
    platform::TDynamicLibrary mts;
    std::string mtsPath;
    std::string savedDirectory;
    std::string retryDirectory;  // where the retried load moved the working directory
    TGroupFlags flags;
    bool useOCI8 = false;
    bool mtsAvailable = false;
    std::atomic<bool> loaded{false};  // set last, once table and flags are complete
    bool exitHandlerInstalled = false;
    void (*beforeExitUnload)() = nullptr;
    // Variables the loader set for the client: name, the value set, the value before.
    struct TSetVariable {
        std::string name, value;
        std::optional<std::string> previous;
    };
    std::vector<TSetVariable> setVariables;
    std::string characterSetWarning;
    std::string characterSet;
    std::vector<std::string> setupLog;  // follows the load's own lines in the log
};

TLoaderState& State() {
    static TLoaderState state;
    return state;
}

TOciFunctions& Table() {
    static TOciFunctions table;
    return table;
}

std::string JoinLog(const std::vector<std::string>& lines) {
    std::string text;
    for (const auto& line : lines) {
        if (!text.empty()) text += "\r\n";
        text += line;
    }
    return text;
}

std::string Quoted(const std::string& path) { return "\"" + path + "\""; }

// Looks a name up only while its group is still complete; a miss ends the group.
template <class Slot>
void Bind(const platform::TDynamicLibrary& lib, Slot& slot, bool& group) {
    slot.Reset();
    if (!group) return;
    void* symbol = lib.Symbol(slot.Name());
    if (symbol) {
        slot.Set(symbol);
    } else {
        group = false;
    }
}

TGroupFlags BindClient(const platform::TDynamicLibrary& lib, TOciFunctions& t) {
    TGroupFlags f;
    f.oci7 = true;
#define VELNOR_BIND(name) Bind(lib, t.name, f.oci7);
    VELNOR_OCI7_ENTRY_POINTS(VELNOR_BIND)
#undef VELNOR_BIND
    f.olog = f.oci7;
#define VELNOR_BIND(name) Bind(lib, t.name, f.olog);
    VELNOR_OLOG_ENTRY_POINTS(VELNOR_BIND)
#undef VELNOR_BIND
    f.opinit = f.olog;
#define VELNOR_BIND(name) Bind(lib, t.name, f.opinit);
    VELNOR_OPINIT_ENTRY_POINTS(VELNOR_BIND)
#undef VELNOR_BIND
    f.oci8 = true;
#define VELNOR_BIND(name) Bind(lib, t.name, f.oci8);
    VELNOR_OCI8_ENTRY_POINTS(VELNOR_BIND)
#undef VELNOR_BIND
    f.oci81 = f.oci8;
#define VELNOR_BIND(name) Bind(lib, t.name, f.oci81);
    VELNOR_OCI81_ENTRY_POINTS(VELNOR_BIND)
#undef VELNOR_BIND
    // Optional names need a complete OCI8 group; a miss leaves only that one null.
#define VELNOR_BIND(name)         \
    {                             \
        bool alone = f.oci8;      \
        Bind(lib, t.name, alone); \
    }
    VELNOR_OPTIONAL_ENTRY_POINTS(VELNOR_BIND)
#undef VELNOR_BIND
    return f;
}

bool BindMts(const platform::TDynamicLibrary& lib, TOciFunctions& t) {
    bool group = true;
#define VELNOR_BIND(name) Bind(lib, t.name, group);
    VELNOR_MTS_ENTRY_POINTS(VELNOR_BIND)
#undef VELNOR_BIND
    return group;
}

void ResetMts(TOciFunctions& t) noexcept {
#define VELNOR_RESET(name) t.name.Reset();
    VELNOR_MTS_ENTRY_POINTS(VELNOR_RESET)
#undef VELNOR_RESET
}

void ResetClient(TOciFunctions& t) noexcept {
#define VELNOR_RESET(name) t.name.Reset();
    VELNOR_CLIENT_ENTRY_POINTS(VELNOR_RESET)
#undef VELNOR_RESET
}

void AtProcessExit() {
    if (State().beforeExitUnload) State().beforeExitUnload();
    UnloadOCI();
}

void SetClientVariable(TLoaderState& s, const std::string& name, const std::string& value) {
    s.setVariables.push_back({name, value, platform::GetEnvironment(name)});
    platform::SetEnvironment(name, value);
    s.setupLog.push_back(name + " set to " + value);
}

// What a Linux client reads only from the environment, settled before it initialises.
void PrepareClientEnvironment(TLoaderState& s) {
    s.characterSetWarning.clear();
    s.characterSet = kVelnorCharacterSet;
    const std::optional<std::string> nlsLang = platform::GetEnvironment("NLS_LANG");
    if (!nlsLang) {
        std::string locale;
        for (const char* name : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
            locale = platform::GetEnvironment(name).value_or("");
            if (!locale.empty()) break;
        }
        SetClientVariable(s, "NLS_LANG", DefaultNlsLang(locale));
    } else if (const std::string set = NlsLangCharacterSet(*nlsLang); set != kVelnorCharacterSet) {
        s.characterSet = set;
        s.characterSetWarning = "NLS_LANG=" + *nlsLang + " makes " + set +
                                " the client character set instead of " + kVelnorCharacterSet +
                                ": text is converted, and characters " + set +
                                " lacks become \"?\"";
        s.setupLog.push_back(s.characterSetWarning);
    }
    // A full client finds its message files and network/admin through ORACLE_HOME; an
    // Instant Client needs none and finds them beside its libraries.
    // The user's own ORACLE_HOME is kept, as an override.
    if (s.ociDllAutoChosen && !s.oracleHomeDir.empty() && !IsInstantClientHome(s.oracleHomeDir)) {
        const std::optional<std::string> own = platform::GetEnvironment("ORACLE_HOME");
        if (!own)
            SetClientVariable(s, "ORACLE_HOME", s.oracleHomeDir);
        else if (*own != s.oracleHomeDir)
            s.setupLog.push_back("ORACLE_HOME kept as " + *own);
    }
}

// Opens the libraries `file` needs that lie in `dir`, each after its own, so the client
// links against them by name without LD_LIBRARY_PATH.
void OpenCompanions(TLoaderState& s, const std::string& file, const std::string& dir,
                    std::set<std::string>& seen) {
    const auto needed = NeededLibraries(file);
    if (!needed) return;
    for (const std::string& name : *needed) {
        if (name.find('/') != std::string::npos || !seen.insert(name).second ||
            platform::TDynamicLibrary::IsLoaded(name))
            continue;
        const std::string path = platform::JoinPath(dir, name);
        if (!platform::FileExists(path)) continue;
        OpenCompanions(s, path, dir, seen);
        platform::TDynamicLibrary library;
        if (library.Load(path)) {
            s.setupLog.push_back("Companion library: " + path);
            s.companions.push_back(std::move(library));
        } else {
            s.setupLog.push_back("Companion library not loaded: " + path + ": " +
                                 library.LastError());
        }
    }
}

void RestoreClientEnvironment(TLoaderState& s) noexcept {
    try {
        for (auto it = s.setVariables.rbegin(); it != s.setVariables.rend(); ++it) {
            if (platform::GetEnvironment(it->name) != it->value) continue;  // changed since
            if (it->previous)
                platform::SetEnvironment(it->name, *it->previous);
            else
                platform::UnsetEnvironment(it->name);
        }
    } catch (...) {
        // Best effort: the next load settles the variables again.
    }
    s.setVariables.clear();
}

TLoadResult LoadClient();

TLoadResult LoadOCI() {
    TLoaderState& s = State();
    if (s.loaded) return lrLoaded;
    s.log.clear();
    s.setupLog.clear();
    const TLoadResult result = LoadClient();
    s.log.insert(s.log.end(), s.setupLog.begin(), s.setupLog.end());
    s.setupLog.clear();
    return result;
}

TLoadResult LoadClient() {
    TLoaderState& s = State();
    const TLoadResult chosen = ChooseOCIDLL();
    if (chosen != lrLoaded) return chosen;
    PrepareClientEnvironment(s);
    if (const std::string dir = platform::DirectoryOf(s.ociDll); !dir.empty()) {
        std::set<std::string> seen;
        OpenCompanions(s, s.ociDll, dir, seen);
    }

    if (!s.client.Load(s.ociDll)) {
        const std::string firstError = s.client.LastError();
        const std::string dir = platform::DirectoryOf(s.ociDll);
        if (!dir.empty()) {
            s.savedDirectory = platform::GetCurrentDirectory();
            if (platform::SetCurrentDirectory(dir))
                s.retryDirectory = platform::GetCurrentDirectory();
            s.client.Load(s.ociDll);
        }
        if (!s.client.Loaded()) {
            s.log.push_back("LoadLibrary(" + s.ociDll + ") returned 0");
            const std::string& reason =
                s.client.LastError().empty() ? firstError : s.client.LastError();
            if (!reason.empty()) s.log.push_back(reason);
            return lrNotFound;
        }
    }

    // Bound into a private table first; nothing is visible until everything worked.
    auto staged = std::make_unique<TOciFunctions>();
    s.flags = BindClient(s.client, *staged);
    s.useOCI8 = s.flags.oci8;
    if (!s.flags.oci7 && !s.useOCI8) return lrNotInitialized;
    Table() = *staged;
    return lrLoaded;
}

[[noreturn]] void RaiseInitializationError(const std::string& message, bool withLog) {
    std::string text = "Initialization error\r\n" + message;
    if (withLog) text += "\r\n\r\n" + JoinLog(State().log);
    throw platform::Exception(text);
}

}  // namespace

void RaiseUnboundEntryPoint(const char* name) {
    throw platform::Exception(std::string("The client library entry point ") + name +
                              " is not available");
}

const TOciFunctions& Oci() noexcept { return Table(); }

platform::TOracleCriticalSection& GlobalOCILock() noexcept {
    static platform::TOracleCriticalSection lock;
    return lock;
}

bool OCI7Available() noexcept { return State().loaded && State().flags.oci7; }
bool OLogAvailable() noexcept { return State().loaded && State().flags.olog; }
bool OPInitAvailable() noexcept { return State().loaded && State().flags.opinit; }
bool OCI8Available() noexcept { return State().loaded && State().flags.oci8; }
bool UseOCI8() noexcept { return State().loaded && State().useOCI8; }
bool OCI81Available() noexcept { return State().loaded && State().flags.oci81; }
bool MTSAvailable() noexcept { return State().loaded && State().mtsAvailable; }
bool OCILoaded() noexcept { return State().loaded; }

std::string OCIDLL() {
    platform::TCriticalSectionGuard guard(GlobalOCILock());
    return State().ociDll;
}

void SetOCIDLL(std::string path) {
    platform::TCriticalSectionGuard guard(GlobalOCILock());
    State().ociDll = std::move(path);
    State().ociDllAutoChosen = false;
}

bool OCIDLLAutoChosen() noexcept { return State().ociDllAutoChosen; }

std::string OracleHomeKey() {
    platform::TCriticalSectionGuard guard(GlobalOCILock());
    return State().oracleHomeKey;
}

std::string OracleHomeDir() {
    platform::TCriticalSectionGuard guard(GlobalOCILock());
    return State().oracleHomeDir;
}

std::string LoaderLog() {
    platform::TCriticalSectionGuard guard(GlobalOCILock());
    return JoinLog(State().log);
}

std::string ClientCharacterSetWarning() {
    platform::TCriticalSectionGuard guard(GlobalOCILock());
    return State().characterSetWarning;
}

std::string ClientCharacterSet() {
    platform::TCriticalSectionGuard guard(GlobalOCILock());
    return State().loaded ? State().characterSet : std::string();
}

std::string FindOracleHomeKey() {
    platform::TCriticalSectionGuard guard(GlobalOCILock());
    TLoaderState& s = State();
    if (s.oracleHomeKey.empty()) {
        s.oracleHomeKey =
            SelectOracleHomeKey(ListOracleHomes(), platform::GetCommandLineValue("ORACLEHOME"),
                                platform::GetEnvironment("PATH").value_or(""));
    }
    return s.oracleHomeKey;
}

TLoadResult ChooseOCIDLL() {
    platform::TCriticalSectionGuard guard(GlobalOCILock());
    TLoaderState& s = State();
    s.ociDllAutoChosen = false;
    const std::string forced = platform::GetCommandLineValue("OCIDLL");
    if (!forced.empty()) s.ociDll = forced;
    if (!s.ociDll.empty()) {
        s.log.push_back("OCIDLL forced to " + s.ociDll);
        return lrLoaded;
    }
    s.oracleHomeDir = ReadOracleHomeDir(FindOracleHomeKey());
    s.log.push_back("OracleHomeKey: " + s.oracleHomeKey);
    s.log.push_back("OracleHomeDir: " + s.oracleHomeDir);
    if (s.oracleHomeDir.empty()) return lrNoHome;
    const std::string libraryDir = LibraryDirectoryOf(s.oracleHomeDir);
    s.log.push_back("Library directory: " + libraryDir);
    const std::string chosen = PickOCIDLL(ListOCIDLLCandidates(libraryDir, s.log));
    if (chosen.empty()) return lrNotFound;
    s.ociDll = chosen;
    s.ociDllAutoChosen = true;
    s.log.push_back("Using: " + s.ociDll);
    return lrLoaded;
}

void InitializeOCI() {
    platform::TCriticalSectionGuard guard(GlobalOCILock());
    TLoaderState& s = State();
    if (s.loaded) return;
    const TLoadResult code = LoadOCI();
    std::string message;
    switch (code) {
        case lrLoaded:
            break;
        case lrNotFound:
            message = s.ociDll.empty() ? "Could not locate OCI dll"
                                       : "Could not load " + Quoted(s.ociDll);
            break;
        case lrNotInitialized:
            message = "Could not initialize " + Quoted(s.ociDll);
            break;
        case lrNoHome:
            message = "SQL*Net not properly installed";
            break;
    }
    if (code == lrLoaded) {
        const TOciFunctions& t = Table();
        sword status = OCI_SUCCESS;
        if (s.flags.opinit && !s.useOCI8) status = t.opinit(OCI_EV_DEF);
        if (status == OCI_SUCCESS && s.useOCI8 && !s.flags.oci81) {
            status = t.OCIInitialize(OCI_THREADED | OCI_OBJECT, nullptr, nullptr, nullptr, nullptr);
        }
        if (status != OCI_SUCCESS) {
            s.log.push_back("Process initialisation returned " + std::to_string(status));
            message = "Could not initialize " + Quoted(s.ociDll);
        }
    }
    if (!message.empty()) {
        const std::vector<std::string> log = s.log;  // UnloadOCI must not lose the log
        UnloadOCI();
        s.log = log;
        RaiseInitializationError(message, true);
    }
    s.loaded = true;
    if (!s.exitHandlerInstalled) {
        s.exitHandlerInstalled = std::atexit(AtProcessExit) == 0;
    }
}

void UnloadOCI() noexcept {
    platform::TCriticalSectionGuard guard(GlobalOCILock());
    TLoaderState& s = State();
    s.loaded = false;
    s.mtsAvailable = false;
    ResetClient(Table());
    ResetMts(Table());
    s.mts.Unload();
    s.client.Unload();
    while (!s.companions.empty()) s.companions.pop_back();
    RestoreClientEnvironment(s);
    s.characterSetWarning.clear();
    s.characterSet.clear();
    if (s.ociDllAutoChosen) s.ociDll.clear();
    s.flags = TGroupFlags{};
    s.useOCI8 = false;
    s.oracleHomeKey.clear();
    s.oracleHomeDir.clear();
    s.mtsPath.clear();
}

void SetBeforeExitUnload(void (*hook)()) noexcept {
    platform::TCriticalSectionGuard guard(GlobalOCILock());
    State().beforeExitUnload = hook;
}

void RestoreCurrentDirectory() noexcept {
    platform::TCriticalSectionGuard guard(GlobalOCILock());
    TLoaderState& s = State();
    try {
        if (!s.savedDirectory.empty() && platform::GetCurrentDirectory() == s.retryDirectory) {
            platform::SetCurrentDirectory(s.savedDirectory);
        }
    } catch (...) {
        // Putting the directory back is best effort; the logon's own outcome counts.
    }
    s.savedDirectory.clear();
    s.retryDirectory.clear();
}

void InitializeMTS() {
    platform::TCriticalSectionGuard guard(GlobalOCILock());
    TLoaderState& s = State();
    if (s.mts.Loaded()) return;
    s.mtsAvailable = false;
    InitializeOCI();
    if (s.mtsPath.empty()) {
        s.mtsPath = platform::JoinPath(platform::DirectoryOf(s.ociDll), kMtsLibraryName);
    }
    std::string message;
    if (!platform::FileExists(s.mtsPath)) {
        message = "Could not locate " + Quoted(s.mtsPath);
    } else if (!s.mts.Load(s.mtsPath)) {
        message = "Could not load " + Quoted(s.mtsPath);
    } else {
        auto staged = std::make_unique<TOciFunctions>();
        if (BindMts(s.mts, *staged)) {
            TOciFunctions& t = Table();
#define VELNOR_COPY(name) t.name = staged->name;
            VELNOR_MTS_ENTRY_POINTS(VELNOR_COPY)
#undef VELNOR_COPY
            s.mtsAvailable = true;
        } else {
            message = "Could not initialize " + Quoted(s.mtsPath);
            s.mts.Unload();
            s.mtsPath.clear();
        }
    }
    if (!message.empty()) RaiseInitializationError(message, false);
}

}  // namespace velnor::oracle
