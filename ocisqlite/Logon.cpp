// Servers, user sessions and service contexts: attach, logon, logoff and the version banner.
#include <pwd.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <ctime>
#include <fstream>
#include <optional>
#include <type_traits>
#include <vector>

#include "ocisqlite/Connection.h"
#include "ocisqlite/Handles.h"
#include "ocisqlite/store/OracleHome.h"

using namespace velnor::ocisqlite;

#define VELNOR_CHECK_SIGNATURE(name) \
    static_assert(std::is_same_v<decltype(&name), Fn##name>, #name);
VELNOR_CHECK_SIGNATURE(OCIServerAttach)
VELNOR_CHECK_SIGNATURE(OCIServerDetach)
VELNOR_CHECK_SIGNATURE(OCISessionBegin)
VELNOR_CHECK_SIGNATURE(OCISessionEnd)
VELNOR_CHECK_SIGNATURE(OCILogon)
VELNOR_CHECK_SIGNATURE(OCILogoff)
VELNOR_CHECK_SIGNATURE(OCIServerVersion)
VELNOR_CHECK_SIGNATURE(OCIBreak)

namespace {

std::string Trim(std::string_view text) {
    std::size_t b = 0, e = text.size();
    while (b < e && std::isspace(static_cast<unsigned char>(text[b]))) ++b;
    while (e > b && std::isspace(static_cast<unsigned char>(text[e - 1]))) --e;
    return std::string(text.substr(b, e - b));
}

// The service a connect descriptor names with SERVICE_NAME= or SID=; empty when none.
std::string ServiceOfDescriptor(std::string_view descriptor) {
    const std::string upper = UpperName(descriptor);
    for (const char* key : {"SERVICE_NAME", "SID"}) {
        std::size_t at = upper.find(key);
        while (at != std::string::npos) {
            std::size_t p = at + std::string_view(key).size();
            while (p < upper.size() && upper[p] == ' ') ++p;
            if (p < upper.size() && upper[p] == '=') {
                const std::size_t end = upper.find(')', p);
                return Trim(descriptor.substr(p + 1, end - p - 1));
            }
            at = upper.find(key, at + 1);
        }
    }
    return {};
}

// The descriptor of a net service name in tnsnames.ora ($TNS_ADMIN, else the home's
// network/admin); nullopt when the file or the name is not there.
std::optional<std::string> TnsDescriptor(const std::string& home, std::string_view alias) {
    const char* admin = std::getenv("TNS_ADMIN");
    const std::string dir = admin && *admin ? std::string(admin) : home + "/network/admin";
    std::ifstream in(dir + "/tnsnames.ora");
    if (!in) return std::nullopt;
    std::string text, line;
    while (std::getline(in, line)) text += line.substr(0, line.find('#')) + "\n";
    const std::string wanted = UpperName(alias);
    std::size_t at = 0;
    while (at < text.size()) {
        const std::size_t equals = text.find('=', at);
        if (equals == std::string::npos) break;
        std::vector<std::string> names;
        std::string_view list(text.data() + at, equals - at);
        for (std::size_t from = 0; from <= list.size();) {
            const std::size_t comma = std::min(list.find(',', from), list.size());
            names.push_back(UpperName(Trim(list.substr(from, comma - from))));
            from = comma + 1;
        }
        std::size_t p = text.find('(', equals);
        if (p == std::string::npos) break;
        const std::size_t open = p;
        int depth = 0;
        for (; p < text.size(); ++p) {
            if (text[p] == '(') ++depth;
            if (text[p] == ')' && --depth == 0) break;
        }
        for (const auto& name : names)
            if (name == wanted) return text.substr(open, p - open + 1);
        at = p + 1;
    }
    return std::nullopt;
}

// A service name out of what a connect string may hold: a net service name (an alias of
// tnsnames.ora, else the service itself), an EZConnect string "[//]host[:port]/service" or
// a descriptor. Empty: the default service, or none to be found.
std::string ServiceOf(std::string_view dblink, const std::string& home) {
    std::string link = Trim(dblink);
    if (link.empty()) {
        for (const char* name : {"TWO_TASK", "ORACLE_SID"})
            if (const char* v = std::getenv(name); v && *v) return Trim(v);
        return {};
    }
    if (link.front() == '(') return ServiceOfDescriptor(link);
    if (link.find_first_of("/:") == std::string::npos) {
        if (auto descriptor = TnsDescriptor(home, link)) return ServiceOfDescriptor(*descriptor);
        return link;
    }
    // EZConnect: [protocol://][//]host[:port][/service[:server][/instance]]
    if (const auto scheme = link.find("://"); scheme != std::string::npos)
        link.erase(0, scheme + 3);
    if (link.rfind("//", 0) == 0) link.erase(0, 2);
    std::size_t hostEnd = 0;
    if (!link.empty() && link.front() == '[') hostEnd = link.find(']');  // IPv6 address
    const auto slash = link.find('/', hostEnd == std::string::npos ? 0 : hostEnd);
    if (slash == std::string::npos) return {};  // no service named
    const std::string service = link.substr(slash + 1);
    return service.substr(0, service.find_first_of(":/"));
}

std::string OsUser() {
    if (const passwd* pw = ::getpwuid(::geteuid()); pw && pw->pw_name) return pw->pw_name;
    if (const char* user = std::getenv("USER")) return user;
    return {};
}

}  // namespace

namespace velnor::ocisqlite {

TServer::~TServer() { Detach(); }

void TServer::Attach(std::string_view dblink) {
    if (attached_) throw OraError(24313);
    const std::string home = FindOwnHome(reinterpret_cast<const void*>(&OCIServerAttach));
    const std::string service = UpperName(ServiceOf(dblink, home));
    const TOracleHome store(home);
    if (home.empty() || !IsValidName(service) || !store.ServiceExists(service))
        throw OraError(12154);
    banner_ = store.Banner(service);
    home_ = home;
    service_ = service;
    attached_ = true;
}

void TServer::Detach() noexcept {
    // Sessions still open are ended as a dropped connection ends them: rolled back.
    while (!sessions.empty()) (*sessions.begin())->End(false);
    attached_ = false;
}

void TServer::GetAttr(ub4 attr, void* value, ub4* size) {
    switch (attr) {
        case OCI_ATTR_SERVER_STATUS:
            PutAttr<ub4>(value, size, attached_ ? OCI_SERVER_NORMAL : OCI_SERVER_NOT_CONNECTED);
            return;
        case OCI_ATTR_ENV:
            PutAttr<OCIEnv*>(value, size, reinterpret_cast<OCIEnv*>(Environment()));
            return;
        case OCI_ATTR_NONBLOCKING_MODE:
            PutAttr<ub1>(value, size, 0);
            return;
        case OCI_ATTR_EXTERNAL_NAME:
        case OCI_ATTR_INTERNAL_NAME:
            PutTextAttr(value, size, service_);
            return;
        default:
            THandle::GetAttr(attr, value, size);
    }
}

void TServer::SetAttr(ub4 attr, void* value, ub4 size) {
    switch (attr) {
        case OCI_ATTR_EXTERNAL_NAME:
        case OCI_ATTR_INTERNAL_NAME:
        case OCI_ATTR_NONBLOCKING_MODE:  // every call completes before it returns
            return;
        default:
            THandle::SetAttr(attr, value, size);
    }
}

TSession::~TSession() { End(false); }

int TSession::Begin(TServer& server, ub4 credentials, ub4 mode) {
    if (!server.Attached()) throw OraError(24327);
    if (Active()) throw OraError(24313);
    if ((mode & ~ub4{OCI_SYSDBA | OCI_SYSOPER | OCI_STMT_CACHE | OCI_MIGRATE}) != 0)
        throw OraError(3001);
    const TOracleHome store(server.Home());
    std::string user;
    TPasswordCheck check;
    if (credentials == OCI_CRED_RDBMS) {
        if (userName.empty()) throw OraError(1017);
        if (password.empty()) throw OraError(1005);
        user = UpperName(userName);
        const auto record = store.FindUser(server.Service(), user);
        if (!record) throw OraError(1017);
        check = CheckPassword(*record, password, static_cast<std::int64_t>(::time(nullptr)));
        if (!check.valid) throw OraError(1017);
        if (check.expired) throw OraError(28001);
    } else if (credentials == OCI_CRED_EXT) {
        // Operating-system authentication: the account named OPS$<os user>.
        user = "OPS$" + UpperName(OsUser());
        if (!store.FindUser(server.Service(), user)) throw OraError(1017);
    } else {
        throw OraError(3001);
    }
    connection_ =
        std::make_unique<TConnection>(server.Home(), server.Service(), user, server.Banner());
    server_ = &server;
    server.sessions.insert(this);
    return check.graceDays;
}

void TSession::End(bool commit) {
    if (!connection_) return;
    std::unique_ptr<TConnection> connection = std::move(connection_);
    if (server_) server_->sessions.erase(this);
    server_ = nullptr;
    if (commit) connection->Commit();  // a failure propagates; the rollback still happens
}

void TSession::GetAttr(ub4 attr, void* value, ub4* size) {
    switch (attr) {
        case OCI_ATTR_USERNAME:
            PutTextAttr(value, size, userName);
            return;
        default:
            THandle::GetAttr(attr, value, size);
    }
}

void TSession::SetAttr(ub4 attr, void* value, ub4 size) {
    switch (attr) {
        case OCI_ATTR_USERNAME:
            userName = TextArg(value, size);
            return;
        case OCI_ATTR_PASSWORD:
            password = TextArg(value, size);
            return;
        case OCI_ATTR_MODULE:
        case OCI_ATTR_ACTION:
        case OCI_ATTR_CLIENT_INFO:
        case OCI_ATTR_CLIENT_IDENTIFIER:
        case OCI_ATTR_DRIVER_NAME:
            return;  // accepted: there is no server-side monitoring to feed
        default:
            THandle::SetAttr(attr, value, size);
    }
}

TConnection& TServiceContext::Connection() const {
    if (!server || !server->Attached()) throw OraError(3114);
    if (!session || !session->Active()) throw OraError(1012);
    return *session->Connection();
}

void TServiceContext::GetAttr(ub4 attr, void* value, ub4* size) {
    switch (attr) {
        case OCI_ATTR_ENV:
            PutAttr<OCIEnv*>(value, size, reinterpret_cast<OCIEnv*>(Environment()));
            return;
        case OCI_ATTR_SERVER:
            PutAttr<OCIServer*>(value, size, reinterpret_cast<OCIServer*>(server));
            return;
        case OCI_ATTR_SESSION:
            PutAttr<OCISession*>(value, size, reinterpret_cast<OCISession*>(session));
            return;
        case OCI_ATTR_TRANS:
            PutAttr<OCITrans*>(value, size, nullptr);
            return;
        case OCI_ATTR_IN_V8_MODE:
            PutAttr<ub1>(value, size, 1);
            return;
        case OCI_ATTR_STMTCACHESIZE:
            PutAttr<ub4>(value, size, 0);
            return;
        default:
            THandle::GetAttr(attr, value, size);
    }
}

void TServiceContext::SetAttr(ub4 attr, void* value, ub4 size) {
    switch (attr) {
        case OCI_ATTR_SERVER:
            if (value && !AsHandle<TServer>(value, OCI_HTYPE_SERVER)) throw OraError(24315);
            server = static_cast<TServer*>(value ? AnyHandle(value) : nullptr);
            return;
        case OCI_ATTR_SESSION:
            if (value && !AsHandle<TSession>(value, OCI_HTYPE_SESSION)) throw OraError(24315);
            session = static_cast<TSession*>(value ? AnyHandle(value) : nullptr);
            return;
        case OCI_ATTR_TRANS:
        case OCI_ATTR_STMTCACHESIZE:
            return;  // one implicit transaction per session; no statement cache
        default:
            THandle::SetAttr(attr, value, size);
    }
}

}  // namespace velnor::ocisqlite

VELNOR_EXPORT sword OCIServerAttach(OCIServer* srv, OCIError* err, const OraText* connect,
                                    sb4 connect_len, ub4) {
    auto* server = AsHandle<TServer>(srv, OCI_HTYPE_SERVER);
    if (!server || !AsHandle<TErrorHandle>(err, OCI_HTYPE_ERROR)) return OCI_INVALID_HANDLE;
    return Guard(err, [&] {
        server->Attach(TextArg(connect, connect_len));
        return OCI_SUCCESS;
    });
}

VELNOR_EXPORT sword OCIServerDetach(OCIServer* srv, OCIError* err, ub4) {
    auto* server = AsHandle<TServer>(srv, OCI_HTYPE_SERVER);
    if (!server || !AsHandle<TErrorHandle>(err, OCI_HTYPE_ERROR)) return OCI_INVALID_HANDLE;
    return Guard(err, [&] {
        if (!server->Attached()) throw OraError(3114);
        server->Detach();
        return OCI_SUCCESS;
    });
}

VELNOR_EXPORT sword OCISessionBegin(OCISvcCtx* svc, OCIError* err, OCISession* sess, ub4 cred_type,
                                    ub4 mode) {
    auto* context = AsHandle<TServiceContext>(svc, OCI_HTYPE_SVCCTX);
    auto* session = AsHandle<TSession>(sess, OCI_HTYPE_SESSION);
    if (!context || !session || !AsHandle<TErrorHandle>(err, OCI_HTYPE_ERROR))
        return OCI_INVALID_HANDLE;
    return Guard(err, [&] {
        if (!context->server) throw OraError(24327);
        const int graceDays = session->Begin(*context->server, cred_type, mode);
        context->session = session;
        if (graceDays > 0) {
            SetError(AnyHandle(err), 28002, MessageText(28002, {std::to_string(graceDays)}));
            return OCI_SUCCESS_WITH_INFO;
        }
        return OCI_SUCCESS;
    });
}

VELNOR_EXPORT sword OCISessionEnd(OCISvcCtx* svc, OCIError* err, OCISession* sess, ub4) {
    auto* context = AsHandle<TServiceContext>(svc, OCI_HTYPE_SVCCTX);
    auto* session =
        sess ? AsHandle<TSession>(sess, OCI_HTYPE_SESSION) : (context ? context->session : nullptr);
    if (!context || !session || !AsHandle<TErrorHandle>(err, OCI_HTYPE_ERROR))
        return OCI_INVALID_HANDLE;
    return Guard(err, [&] {
        if (!session->Active()) throw OraError(1012);
        session->End(true);
        return OCI_SUCCESS;
    });
}

VELNOR_EXPORT sword OCILogon(OCIEnv* env, OCIError* err, OCISvcCtx** svc_out,
                             const OraText* username, ub4 username_len, const OraText* password,
                             ub4 password_len, const OraText* connect, ub4 connect_len) {
    auto* environment = AsHandle<TEnvironment>(env, OCI_HTYPE_ENV);
    if (!environment || !svc_out || !AsHandle<TErrorHandle>(err, OCI_HTYPE_ERROR))
        return OCI_INVALID_HANDLE;
    *svc_out = nullptr;
    TServiceContext* context = nullptr;
    TServer* server = nullptr;
    TSession* session = nullptr;
    const sword status = Guard(err, [&] {
        context = static_cast<TServiceContext*>(
            environment->Adopt(std::make_unique<TServiceContext>(environment)));
        server = static_cast<TServer*>(environment->Adopt(std::make_unique<TServer>(environment)));
        session =
            static_cast<TSession*>(environment->Adopt(std::make_unique<TSession>(environment)));
        context->server = server;
        context->implicitLogon = true;
        server->Attach(TextArg(connect, connect_len));
        session->userName = TextArg(username, username_len);
        session->password = TextArg(password, password_len);
        const int graceDays = session->Begin(*server, OCI_CRED_RDBMS, OCI_DEFAULT);
        context->session = session;
        if (graceDays > 0) {
            SetError(AnyHandle(err), 28002, MessageText(28002, {std::to_string(graceDays)}));
            return OCI_SUCCESS_WITH_INFO;
        }
        return OCI_SUCCESS;
    });
    if (status == OCI_SUCCESS || status == OCI_SUCCESS_WITH_INFO) {
        *svc_out = reinterpret_cast<OCISvcCtx*>(static_cast<THandle*>(context));
    } else {
        for (THandle* h : {static_cast<THandle*>(session), static_cast<THandle*>(server),
                           static_cast<THandle*>(context)})
            if (h) environment->Release(h);
    }
    return status;
}

VELNOR_EXPORT sword OCILogoff(OCISvcCtx* svc, OCIError* err) {
    auto* context = AsHandle<TServiceContext>(svc, OCI_HTYPE_SVCCTX);
    if (!context || !AsHandle<TErrorHandle>(err, OCI_HTYPE_ERROR)) return OCI_INVALID_HANDLE;
    TSession* session = context->session;
    TServer* server = context->server;
    const sword status = Guard(err, [&] {
        if (session && session->Active()) session->End(true);
        return OCI_SUCCESS;
    });
    if (server) server->Detach();
    if (context->implicitLogon) {
        TEnvironment* env = context->Environment();
        if (env) {
            if (session) env->Release(session);
            if (server) env->Release(server);
            env->Release(context);
        }
    }
    return status;
}

VELNOR_EXPORT sword OCIServerVersion(void* handle, OCIError* err, OraText* buf, ub4 buf_size,
                                     ub1 htype) {
    TServer* server = nullptr;
    if (htype == OCI_HTYPE_SVCCTX) {
        if (auto* context = AsHandle<TServiceContext>(handle, OCI_HTYPE_SVCCTX))
            server = context->server;
    } else if (htype == OCI_HTYPE_SERVER) {
        server = AsHandle<TServer>(handle, OCI_HTYPE_SERVER);
    }
    if (!server || !AsHandle<TErrorHandle>(err, OCI_HTYPE_ERROR)) return OCI_INVALID_HANDLE;
    return Guard(err, [&] {
        if (!server->Attached()) throw OraError(3114);
        CopyText(server->Banner(), buf, buf_size);
        return OCI_SUCCESS;
    });
}

// Every call completes before it returns, so there is never anything to interrupt.
VELNOR_EXPORT sword OCIBreak(void* handle, OCIError* err) {
    if (!AnyHandle(handle) || !AsHandle<TErrorHandle>(err, OCI_HTYPE_ERROR))
        return OCI_INVALID_HANDLE;
    return OCI_SUCCESS;
}
