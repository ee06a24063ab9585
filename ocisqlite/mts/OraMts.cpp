// The MTS companion library: pooled service contexts handed out by logging on through the
// client library of the same folder. There is no transaction coordinator here, so
// enlisting in a distributed transaction is refused.
#include <dlfcn.h>

#include <cstring>
#include <map>
#include <mutex>
#include <string>
#include <type_traits>

#include "oci/OciFunctions.h"

#define VELNOR_EXPORT extern "C" __attribute__((visibility("default")))

#define VELNOR_CHECK_SIGNATURE(name) \
    static_assert(std::is_same_v<decltype(&name), Fn##name>, #name);
VELNOR_CHECK_SIGNATURE(OraMTSSvcGet)
VELNOR_CHECK_SIGNATURE(OraMTSSvcRel)
VELNOR_CHECK_SIGNATURE(OraMTSSvcEnlist)
VELNOR_CHECK_SIGNATURE(OraMTSSvcEnlistEx)
VELNOR_CHECK_SIGNATURE(OraMTSTransTest)

namespace {

// Result codes in the range the MTS library uses.
constexpr ub4 kFailedLogon = 4002;      // failed logon to Oracle
constexpr ub4 kFailedLogoff = 4003;     // failed logoff from Oracle
constexpr ub4 kNoCoordinator = 4017;    // no distributed transaction coordinator
constexpr ub4 kNoClientLibrary = 4020;  // the client library could not be loaded

struct TClient {
    void* library = nullptr;
    FnOCIEnvCreate envCreate = nullptr;
    FnOCIHandleAlloc handleAlloc = nullptr;
    FnOCIHandleFree handleFree = nullptr;
    FnOCILogon logon = nullptr;
    FnOCILogoff logoff = nullptr;
    FnOCIAttrGet attrGet = nullptr;
};

template <class Fn>
bool Bind(void* library, const char* name, Fn& slot) {
    slot = reinterpret_cast<Fn>(::dlsym(library, name));
    return slot != nullptr;
}

// The client library next to this one, loaded once for the process.
const TClient* Client() {
    static TClient client;
    static std::once_flag once;
    std::call_once(once, [] {
        Dl_info info{};
        if (::dladdr(reinterpret_cast<const void*>(&Client), &info) == 0 || !info.dli_fname) return;
        std::string path(info.dli_fname);
        const auto slash = path.rfind('/');
        path = (slash == std::string::npos ? std::string(".") : path.substr(0, slash)) +
               "/libclntsh.so";
        void* library = ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
        if (!library) return;
        TClient c;
        c.library = library;
        if (Bind(library, "OCIEnvCreate", c.envCreate) &&
            Bind(library, "OCIHandleAlloc", c.handleAlloc) &&
            Bind(library, "OCIHandleFree", c.handleFree) && Bind(library, "OCILogon", c.logon) &&
            Bind(library, "OCILogoff", c.logoff) && Bind(library, "OCIAttrGet", c.attrGet)) {
            client = c;
        } else {
            ::dlclose(library);
        }
    });
    return client.library ? &client : nullptr;
}

// The environment each handed-out service context was made in.
std::mutex poolMutex;
std::map<OCISvcCtx*, OCIEnv*> pool;

ub4 Length(const OraText* s) {
    return s ? static_cast<ub4>(std::strlen(reinterpret_cast<const char*>(s))) : 0;
}

}  // namespace

VELNOR_EXPORT ub4 OraMTSSvcGet(OraText* user, OraText* password, OraText* dbname,
                               OCISvcCtx** svc_out, OCIEnv** env_out, ub4) {
    if (!svc_out || !env_out) return kFailedLogon;
    *svc_out = nullptr;
    *env_out = nullptr;
    const TClient* client = Client();
    if (!client) return kNoClientLibrary;
    OCIEnv* env = nullptr;
    if (client->envCreate(&env, OCI_THREADED | OCI_OBJECT, nullptr, nullptr, nullptr, nullptr, 0,
                          nullptr) != OCI_SUCCESS)
        return kFailedLogon;
    void* err = nullptr;
    if (client->handleAlloc(env, &err, OCI_HTYPE_ERROR, 0, nullptr) != OCI_SUCCESS) {
        client->handleFree(env, OCI_HTYPE_ENV);
        return kFailedLogon;
    }
    OCISvcCtx* svc = nullptr;
    const sword status = client->logon(env, static_cast<OCIError*>(err), &svc, user, Length(user),
                                       password, Length(password), dbname, Length(dbname));
    client->handleFree(err, OCI_HTYPE_ERROR);
    if (status != OCI_SUCCESS && status != OCI_SUCCESS_WITH_INFO) {
        client->handleFree(env, OCI_HTYPE_ENV);
        return kFailedLogon;
    }
    try {
        std::lock_guard lock(poolMutex);
        pool[svc] = env;
    } catch (...) {
        client->handleFree(env, OCI_HTYPE_ENV);
        return kFailedLogon;
    }
    *svc_out = svc;
    *env_out = env;
    return 0;
}

VELNOR_EXPORT ub4 OraMTSSvcRel(OCISvcCtx* svc) {
    const TClient* client = Client();
    OCIEnv* env = nullptr;
    {
        std::lock_guard lock(poolMutex);
        const auto found = pool.find(svc);
        if (found == pool.end()) return kFailedLogoff;
        env = found->second;
        pool.erase(found);
    }
    if (!client) return kFailedLogoff;
    void* err = nullptr;
    sword status = client->handleAlloc(env, &err, OCI_HTYPE_ERROR, 0, nullptr);
    if (status == OCI_SUCCESS) status = client->logoff(svc, static_cast<OCIError*>(err));
    client->handleFree(env, OCI_HTYPE_ENV);  // frees the error handle too
    return status == OCI_SUCCESS ? 0 : kFailedLogoff;
}

VELNOR_EXPORT ub4 OraMTSSvcEnlist(OCISvcCtx* svc, OCIError*, void* trans, ub4) {
    if (!svc) return kNoCoordinator;
    return trans ? kNoCoordinator : 0;  // a null transaction means "leave": nothing to leave
}

VELNOR_EXPORT ub4 OraMTSSvcEnlistEx(OCISvcCtx* svc, OCIError* err, void* trans, ub4 flags, char*) {
    return OraMTSSvcEnlist(svc, err, trans, flags);
}

VELNOR_EXPORT boolean OraMTSTransTest(void) { return 0; }  // never inside a coordinated transaction
