#include "app/core/CsvEncodingSetting.h"

namespace velnor::app {

TTextEncoding LoadCsvEncoding(const platform::TSettings& settings) noexcept {
    try {
        const auto value = settings.Read().Value(kCsvSettingsKey, kCsvEncodingValue);
        if (value && value->kind == platform::TRegistryValue::Kind::String) {
            if (const auto encoding = TextEncodingFromKey(value->text)) return *encoding;
        }
    } catch (const std::exception&) {
        // An unreadable settings file: the default serves, as for a missing one.
    }
    return TTextEncoding::teUtf8;
}

void SaveCsvEncoding(platform::TSettings& settings, TTextEncoding encoding) {
    settings.Update([encoding](platform::TRegistryTree& tree) {
        tree.WriteString(kCsvSettingsKey, kCsvEncodingValue, TextEncodingKey(encoding));
    });
}

}  // namespace velnor::app
