// Every entry point of the client library, defined weakly to answer "unimplemented
// feature": a real implementation elsewhere in the library replaces its stub at link time.
#include <cstddef>
#include <type_traits>

#include "ocisqlite/Handles.h"
#include "ocisqlite/Logon7.h"

namespace velnor::ocisqlite {
namespace {

template <class R>
R Unimplemented(const void* errorHandle, Cda_Def* area1, Cda_Def* area2) noexcept {
    SetError(AnyHandle(errorHandle), 3001, MessageText(3001));
    SetAreaResult(area1, 3001);
    SetAreaResult(area2, 3001);
    if constexpr (std::is_void_v<R>) {
        return;
    } else if constexpr (std::is_pointer_v<R>) {
        return nullptr;
    } else if constexpr (std::is_signed_v<R>) {
        return static_cast<R>(OCI_ERROR);
    } else {
        return R{};
    }
}

}  // namespace

// Stand-ins for the parameters a prototype does not have: an entry point's own err, lda
// or cda parameter hides these.
namespace stub_defaults {
constexpr std::nullptr_t err = nullptr;
constexpr std::nullptr_t lda = nullptr;
constexpr std::nullptr_t cda = nullptr;
}  // namespace stub_defaults

}  // namespace velnor::ocisqlite

using namespace velnor::ocisqlite::stub_defaults;

#pragma GCC diagnostic ignored "-Wunused-parameter"
#pragma GCC diagnostic ignored "-Wshadow"

#define VELNOR_STUB(ret, name, params)                               \
    VELNOR_EXPORT __attribute__((weak)) ret name params {            \
        return velnor::ocisqlite::Unimplemented<ret>(err, cda, lda); \
    }                                                                \
    static_assert(std::is_same_v<decltype(&name), Fn##name>, #name);

VELNOR_OCI7_PROTOTYPES(VELNOR_STUB)
VELNOR_OCI8_PROTOTYPES(VELNOR_STUB)
VELNOR_OCI81_PROTOTYPES(VELNOR_STUB)
VELNOR_OPTIONAL_PROTOTYPES(VELNOR_STUB)
