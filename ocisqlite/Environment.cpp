// Environments, handle and descriptor allocation, attributes and error records.
#include <cstring>
#include <string>
#include <type_traits>

#include "ocisqlite/Handles.h"
#include "ocisqlite/Statement.h"

using namespace velnor::ocisqlite;

#define VELNOR_CHECK_SIGNATURE(name) \
    static_assert(std::is_same_v<decltype(&name), Fn##name>, #name);
VELNOR_CHECK_SIGNATURE(OCIInitialize)
VELNOR_CHECK_SIGNATURE(OCIEnvInit)
VELNOR_CHECK_SIGNATURE(OCIEnvCreate)
VELNOR_CHECK_SIGNATURE(OCIHandleAlloc)
VELNOR_CHECK_SIGNATURE(OCIHandleFree)
VELNOR_CHECK_SIGNATURE(OCIDescriptorAlloc)
VELNOR_CHECK_SIGNATURE(OCIDescriptorFree)
VELNOR_CHECK_SIGNATURE(OCIAttrGet)
VELNOR_CHECK_SIGNATURE(OCIAttrSet)
VELNOR_CHECK_SIGNATURE(OCIErrorGet)
VELNOR_CHECK_SIGNATURE(OCIRowidToChar)

namespace {

sword NewEnvironment(OCIEnv** env_out, ub4 mode, size_t extra_mem, void** user_mem_out) noexcept {
    if (!env_out) return OCI_ERROR;
    *env_out = nullptr;
    try {
        auto env = std::make_unique<TEnvironment>(mode);
        if (extra_mem > 0 && user_mem_out) *user_mem_out = env->ExtraMemory(extra_mem);
        *env_out = reinterpret_cast<OCIEnv*>(static_cast<THandle*>(env.release()));
        return OCI_SUCCESS;
    } catch (...) {
        return OCI_ERROR;
    }
}

std::unique_ptr<THandle> NewHandle(ub4 type, THandle* parent) {
    switch (type) {
        case OCI_HTYPE_ERROR:
            return std::make_unique<TErrorHandle>(parent);
        case OCI_HTYPE_SVCCTX:
            return std::make_unique<TServiceContext>(parent);
        case OCI_HTYPE_STMT:
            return std::make_unique<TStatement>(parent);
        case OCI_HTYPE_SERVER:
            return std::make_unique<TServer>(parent);
        case OCI_HTYPE_SESSION:
            return std::make_unique<TSession>(parent);
        case OCI_HTYPE_DESCRIBE:
        case OCI_HTYPE_TRANS:
        case OCI_HTYPE_COMPLEXOBJECT:
        case OCI_HTYPE_SECURITY:
            return std::make_unique<TDescriptor>(type, parent);
        default:
            return nullptr;
    }
}

TEnvironment* ParentEnvironment(const void* parent) {
    auto* h = AnyHandle(parent);
    return h ? h->Environment() : nullptr;
}

}  // namespace

VELNOR_EXPORT sword OCIInitialize(ub4, void*, void* (*)(void*, size_t),
                                  void* (*)(void*, void*, size_t), void (*)(void*, void*)) {
    return OCI_SUCCESS;  // nothing process-wide to prepare
}

VELNOR_EXPORT sword OCIEnvInit(OCIEnv** env_out, ub4 mode, size_t extra_mem, void** user_mem_out) {
    return NewEnvironment(env_out, mode, extra_mem, user_mem_out);
}

// The memory callbacks are accepted but not used: our handles live on the C++ heap.
VELNOR_EXPORT sword OCIEnvCreate(OCIEnv** env_out, ub4 mode, void*, void* (*)(void*, size_t),
                                 void* (*)(void*, void*, size_t), void (*)(void*, void*),
                                 size_t extra_mem, void** user_mem_out) {
    return NewEnvironment(env_out, mode, extra_mem, user_mem_out);
}

VELNOR_EXPORT sword OCIHandleAlloc(const void* parent, void** handle_out, const ub4 type,
                                   const size_t extra_mem, void** user_mem_out) {
    TEnvironment* env = ParentEnvironment(parent);
    if (!env || !handle_out) return OCI_INVALID_HANDLE;
    *handle_out = nullptr;
    try {
        auto handle = NewHandle(type, env);
        if (!handle) return OCI_INVALID_HANDLE;
        if (extra_mem > 0 && user_mem_out) *user_mem_out = env->ExtraMemory(extra_mem);
        *handle_out = env->Adopt(std::move(handle));
        return OCI_SUCCESS;
    } catch (...) {
        return OCI_ERROR;
    }
}

VELNOR_EXPORT sword OCIHandleFree(void* handle, const ub4 type) {
    THandle* h = AnyHandle(handle);
    if (!h || h->Type() != type) return OCI_INVALID_HANDLE;
    if (type == OCI_HTYPE_ENV) {
        delete static_cast<TEnvironment*>(h);
        return OCI_SUCCESS;
    }
    TEnvironment* env = h->Environment();
    if (env && env->Release(h)) return OCI_SUCCESS;
    // Binds and defines belong to their statement and go with it.
    return type == OCI_HTYPE_BIND || type == OCI_HTYPE_DEFINE ? OCI_SUCCESS : OCI_INVALID_HANDLE;
}

VELNOR_EXPORT sword OCIDescriptorAlloc(const void* parent, void** desc_out, const ub4 type,
                                       const size_t extra_mem, void** user_mem_out) {
    TEnvironment* env = ParentEnvironment(parent);
    if (!env || !desc_out) return OCI_INVALID_HANDLE;
    *desc_out = nullptr;
    if (type < OCI_DTYPE_FIRST || type > OCI_DTYPE_UCB) return OCI_INVALID_HANDLE;
    try {
        if (extra_mem > 0 && user_mem_out) *user_mem_out = env->ExtraMemory(extra_mem);
        *desc_out = env->Adopt(std::make_unique<TDescriptor>(type, env));
        return OCI_SUCCESS;
    } catch (...) {
        return OCI_ERROR;
    }
}

VELNOR_EXPORT sword OCIDescriptorFree(void* desc, const ub4 type) {
    THandle* h = AnyHandle(desc);
    if (!h || h->Type() != type) return OCI_INVALID_HANDLE;
    TEnvironment* env = h->Environment();
    if (env && env->Release(h)) return OCI_SUCCESS;
    // Select-list parameters belong to their statement and go with it.
    return type == OCI_DTYPE_PARAM ? OCI_SUCCESS : OCI_INVALID_HANDLE;
}

VELNOR_EXPORT sword OCIRowidToChar(OCIRowid* rowid, OraText* buf, ub2* buf_len, OCIError* err) {
    return Guard(err, [&] {
        auto* d = AsHandle<TDescriptor>(rowid, OCI_DTYPE_ROWID);
        if (!d || !buf_len) return static_cast<sword>(OCI_INVALID_HANDLE);
        if (!d->row) throw OraError(1410);
        const std::string text = sql::ExtendedRowIdText(*d->row);
        const ub2 given = *buf_len;
        // Too small: the length needed comes back with the error, nothing is written.
        *buf_len = static_cast<ub2>(text.size());
        if (!buf || given < text.size())
            throw OraError(22059, {std::to_string(given), std::to_string(text.size())});
        std::memcpy(buf, text.data(), text.size());
        return static_cast<sword>(OCI_SUCCESS);
    });
}

namespace {

// A parameter descriptor may be named as a describe handle too.
THandle* AttrTarget(const void* target, ub4 type) {
    THandle* h = AnyHandle(target);
    if (!h) return nullptr;
    if (h->Type() == type) return h;
    if (h->Type() == OCI_DTYPE_PARAM && type == OCI_HTYPE_DESCRIBE) return h;
    return nullptr;
}

}  // namespace

VELNOR_EXPORT sword OCIAttrGet(const void* target, ub4 target_type, void* value, ub4* size_out,
                               ub4 attr, OCIError* err) {
    THandle* h = AttrTarget(target, target_type);
    if (!h || !AsHandle<TErrorHandle>(err, OCI_HTYPE_ERROR)) return OCI_INVALID_HANDLE;
    // Reading the tests' observers must not move the count they observe.
    const bool observer =
        target_type == OCI_HTYPE_ENV && (attr == kAttrLiveChildren || attr == kAttrFaultCalls);
    return Guard(
        err,
        [&] {
            h->GetAttr(attr, value, size_out);
            return OCI_SUCCESS;
        },
        !observer);
}

VELNOR_EXPORT sword OCIAttrSet(void* target, ub4 target_type, void* value, ub4 size, ub4 attr,
                               OCIError* err) {
    THandle* h = AttrTarget(target, target_type);
    if (!h || !AsHandle<TErrorHandle>(err, OCI_HTYPE_ERROR)) return OCI_INVALID_HANDLE;
    return Guard(err, [&] {
        h->SetAttr(attr, value, size);
        return OCI_SUCCESS;
    });
}

VELNOR_EXPORT sword OCIErrorGet(void* handle, ub4 record, OraText* /*sqlstate: obsolete*/,
                                sb4* errcode, OraText* buf, ub4 buf_size, ub4 type) {
    THandle* h = AnyHandle(handle);
    if (!h || h->Type() != type || (type != OCI_HTYPE_ERROR && type != OCI_HTYPE_ENV))
        return OCI_INVALID_HANDLE;
    if (record == 0 || record > h->errors.size()) return OCI_NO_DATA;
    try {
        const TErrorRecord& r = h->errors[record - 1];
        if (errcode) *errcode = r.code;
        CopyText(FullMessage(r.code, r.text), buf, buf_size);
        return OCI_SUCCESS;
    } catch (...) {
        return OCI_ERROR;
    }
}
