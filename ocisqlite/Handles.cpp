#include "ocisqlite/Handles.h"

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>
#include <new>
#include <unordered_set>

#include "ocisqlite/Connection.h"

namespace velnor::ocisqlite {
namespace {

const std::map<int, const char*>& Catalogue() {
    static const std::map<int, const char*> messages = {
        {0, "normal, successful completion"},
        {600, "internal error code, arguments: [%s]"},
        {932, "inconsistent datatypes: expected %s got %s"},
        {900, "invalid SQL statement"},
        {1001, "invalid cursor"},
        {1002, "fetch out of sequence"},
        {1003, "no statement parsed"},
        {1005, "null password given; logon denied"},
        {1007, "variable not in select list"},
        {1008, "not all variables bound"},
        {1010, "invalid OCI operation"},
        {1012, "not logged on"},
        {1017, "invalid username/password; logon denied"},
        {1031, "insufficient privileges"},
        {1036, "illegal variable name/number"},
        {1403, "no data found"},
        {1422, "exact fetch returns more than requested number of rows"},
        {1426, "numeric overflow"},
        {1455, "converting column overflows integer datatype"},
        {1405, "fetched column value is NULL"},
        {1406, "fetched column value was truncated"},
        {1410, "invalid ROWID"},
        {3001, "unimplemented feature"},
        {3113, "end-of-file on communication channel"},
        {3114, "not connected to ORACLE"},
        {3123, "operation would block"},
        {4030, "out of process memory when trying to allocate %s bytes (%s,%s)"},
        {22053, "overflow error"},
        {22275, "invalid LOB locator specified"},
        {22289, "cannot perform %s operation on an unopened file or LOB"},
        {22920, "row containing the LOB value is not locked"},
        {22926, "specified trim length is greater than current LOB value's length"},
        {22990, "LOB locators cannot span transactions"},
        {24801, "illegal parameter value in OCI lob function"},
        {24343, "user defined callback error"},
        {22054, "underflow error"},
        {22057, "bad integer length [%s]"},
        {22059, "buffer size [%s] is too small - [%s] is needed"},
        {22060, "argument [%s] is an invalid or uninitialized number"},
        {22061, "invalid format text [%s]"},
        {22062, "invalid input string [%s]"},
        {12154, "TNS:could not resolve the connect identifier specified"},
        {24313, "user already authenticated"},
        {24315, "illegal attribute type"},
        {24327, "need explicit attach before authenticating a user"},
        {24333, "zero iteration count"},
        {24334, "no descriptor for this position"},
        {24337, "statement handle not prepared"},
        {24338, "statement handle not executed"},
        {24345, "A Truncation or null fetch error occurred"},
        {28001, "the password has expired"},
        {28002, "the password will expire within %s days"},
    };
    return messages;
}

}  // namespace

std::string MessageText(int code, const std::vector<std::string>& args) {
    const auto& messages = Catalogue();
    const auto found = messages.find(code);
    if (found == messages.end()) return "Message " + std::to_string(code) + " not found";
    std::string out;
    std::size_t next = 0;
    for (const char* p = found->second; *p; ++p) {
        if (p[0] == '%' && p[1] == 's') {
            if (next < args.size()) out += args[next++];
            ++p;
        } else {
            out += *p;
        }
    }
    return out;
}

sql::OraError OraError(int code, const std::vector<std::string>& args) {
    return sql::OraError(code, MessageText(code, args));
}

std::string FullMessage(int code, const std::string& text) {
    char prefix[32];
    std::snprintf(prefix, sizeof prefix, "ORA-%05d: ", code);
    return prefix + text + "\n";
}

void CopyText(const std::string& text, OraText* buf, std::size_t size) {
    if (!buf || size == 0) return;
    std::size_t n = text.size() < size - 1 ? text.size() : size - 1;
    // Never leave half of a multi-byte character at the end.
    if (n < text.size())
        while (n > 0 && (static_cast<unsigned char>(text[n]) & 0xC0) == 0x80) --n;
    std::memcpy(buf, text.data(), n);
    buf[n] = 0;
}

namespace {

std::mutex& LiveMutex() {
    static std::mutex mutex;
    return mutex;
}

std::unordered_set<const void*>& LiveHandles() {
    static std::unordered_set<const void*> live;
    return live;
}

}  // namespace

THandle::THandle(ub4 type, THandle* parent) : type_(type), parent_(parent) {
    std::lock_guard lock(LiveMutex());
    LiveHandles().insert(static_cast<const void*>(this));
}

THandle::~THandle() {
    magic_ = 0;
    std::lock_guard lock(LiveMutex());
    LiveHandles().erase(static_cast<const void*>(this));
}

TEnvironment* THandle::Environment() noexcept {
    THandle* h = this;
    while (h->parent_) h = h->parent_;
    return h->Type() == OCI_HTYPE_ENV ? static_cast<TEnvironment*>(h) : nullptr;
}

void THandle::GetAttr(ub4, void*, ub4*) { throw OraError(24315); }
void THandle::SetAttr(ub4, void*, ub4) { throw OraError(24315); }

TEnvironment::~TEnvironment() {
    // Sessions and servers first, so that their ends still find their peers alive.
    std::set<THandle*> children;
    {
        std::lock_guard lock(mutex_);
        children.swap(children_);
    }
    for (ub4 type : {ub4{OCI_HTYPE_STMT}, ub4{OCI_HTYPE_SESSION}, ub4{OCI_HTYPE_SERVER}})
        for (auto it = children.begin(); it != children.end();) {
            if ((*it)->Type() == type) {
                delete *it;
                it = children.erase(it);
            } else {
                ++it;
            }
        }
    for (THandle* child : children) delete child;
}

THandle* TEnvironment::Adopt(std::unique_ptr<THandle> child) {
    std::lock_guard lock(mutex_);
    THandle* raw = child.get();
    children_.insert(raw);
    child.release();
    return raw;
}

bool TEnvironment::Release(THandle* child) {
    {
        std::lock_guard lock(mutex_);
        if (children_.erase(child) == 0) return false;
    }
    delete child;
    return true;
}

void* TEnvironment::ExtraMemory(std::size_t bytes) {
    const std::size_t units = (bytes + sizeof(std::max_align_t) - 1) / sizeof(std::max_align_t);
    std::lock_guard lock(mutex_);
    extraMemory_.push_back(std::make_unique<std::max_align_t[]>(units));
    return extraMemory_.back().get();
}

std::size_t TEnvironment::ChildCount() {
    std::lock_guard lock(mutex_);
    return children_.size();
}

void TEnvironment::GetAttr(ub4 attr, void* value, ub4* size) {
    switch (attr) {
        case OCI_ATTR_OBJECT:
            PutAttr<boolean>(value, size, (mode_ & OCI_OBJECT) != 0);
            return;
        case kAttrLiveChildren:
            PutAttr<ub4>(value, size, static_cast<ub4>(ChildCount()));
            return;
        case kAttrFaultCalls:
            PutAttr<ub4>(value, size, static_cast<ub4>(FaultCallsCounted()));
            return;
        default:
            THandle::GetAttr(attr, value, size);
    }
}

void TErrorHandle::GetAttr(ub4 attr, void* value, ub4* size) {
    if (attr == OCI_ATTR_DML_ROW_OFFSET) {
        PutAttr<ub4>(value, size, errors.empty() ? 0 : errors.front().rowOffset);
        return;
    }
    THandle::GetAttr(attr, value, size);
}

THandle* AnyHandle(const void* handle) {
    if (!handle) return nullptr;
    {
        std::lock_guard lock(LiveMutex());
        if (LiveHandles().count(handle) == 0) return nullptr;
    }
    auto* h = static_cast<THandle*>(const_cast<void*>(handle));
    return h->Valid() ? h : nullptr;
}

namespace {

std::atomic<long> faultArmedAt{0};  // the value of OCISQLITE_FAIL_CALL the count belongs to
std::atomic<long> faultCalls{0};

// The call that is to fail, 0 for none; a new value starts the count again.
long ArmedFault() {
    const char* text = std::getenv("OCISQLITE_FAIL_CALL");
    long nth = 0;
    if (text) {
        char* end = nullptr;
        nth = std::strtol(text, &end, 10);
        if (end == text || *end != '\0' || nth < 0) nth = 0;
    }
    if (faultArmedAt.exchange(nth) != nth) faultCalls.store(0);
    return nth;
}

}  // namespace

void FailInjectedCall() {
    const long nth = ArmedFault();
    if (nth > 0 && faultCalls.fetch_add(1) + 1 == nth) throw OraError(3113);
}

long FaultCallsCounted() {
    (void)ArmedFault();
    return faultCalls.load();
}

TCaughtError CaughtError() noexcept {
    try {
        try {
            throw;
        } catch (const sql::OraError& e) {
            return {e.Code(), e.Text()};
        } catch (const std::bad_alloc&) {
            return {4030, MessageText(4030)};
        } catch (const std::exception& e) {
            return {600, MessageText(600, {e.what()})};
        } catch (...) {
            return {600, MessageText(600, {"unknown"})};
        }
    } catch (...) {
        return {4030, {}};  // no memory left even for the text
    }
}

void SetError(THandle* target, int code, const std::string& text, ub4 rowOffset) {
    if (!target) return;
    try {
        target->errors.assign(1, TErrorRecord{code, text, rowOffset});
    } catch (...) {
        // Out of memory while reporting: the status still says the call failed.
    }
}

void PutTextAttr(void* value, ub4* size, const std::string& text) {
    if (!value) throw OraError(24315);
    *static_cast<const OraText**>(value) = reinterpret_cast<const OraText*>(text.c_str());
    if (size) *size = static_cast<ub4>(text.size());
}

std::string TextArg(const void* text, sb8 length) {
    if (!text) return {};
    const char* p = static_cast<const char*>(text);
    if (length < 0) return std::string(p);
    return std::string(p, static_cast<std::size_t>(length));
}

}  // namespace velnor::ocisqlite
