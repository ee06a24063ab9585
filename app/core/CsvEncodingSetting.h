// The encoding the window offers for CSV files: the user's last choice, kept in the current
// user's registry as the word the command line takes ("utf-8", "utf-8-bom", "cp932").
#pragma once
#include "app/core/TextEncoding.h"
#include "platform/Registry.h"

namespace velnor::app {

inline constexpr const char* kCsvSettingsKey = "Software\\Tressigan\\Velnor\\Csv";
inline constexpr const char* kCsvEncodingValue = "CsvEncoding";

// UTF-8 when nothing usable is stored: a damaged setting must not stop a transfer.
[[nodiscard]] TTextEncoding LoadCsvEncoding(const platform::TSettings& settings) noexcept;
// One atomic replacement of the settings file; raises ERegistryError when it cannot be written.
void SaveCsvEncoding(platform::TSettings& settings, TTextEncoding encoding);

}  // namespace velnor::app
