// libFuzzer target for the .reg parser: any text parses without a crash, and writing what
// was read and reading it again gives the same text (nothing is lost across a rewrite).
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "platform/Registry.h"

using velnor::platform::TRegistryTree;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    try {
        const TRegistryTree tree = TRegistryTree::Parse(text, "HKEY_CURRENT_USER");
        const std::string once = tree.Serialize();
        const std::string twice = TRegistryTree::Parse(once, "HKEY_CURRENT_USER").Serialize();
        if (once != twice) std::abort();
    } catch (const velnor::platform::Exception&) {
        // Not a registry file: reported, which is the expected outcome.
    }
    return 0;
}
