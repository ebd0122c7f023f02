#include "key_values.h"

#include <array>

namespace {

constexpr std::array kValues = {
    KeyValue{u"currentVersion", ValueType::kText, true, "none", "the add-on's version"},
    KeyValue{u"blacklist", ValueType::kText, true, "none",
             "executables the global trim leaves alone, separated by \";\""},
    KeyValue{u"nRunCnt", ValueType::kDword, true, "0", "the add-on's run counter"},
    KeyValue{u"app_1", ValueType::kDword, true, "1", "non-zero: the browser is trimmed"},
    KeyValue{u"activateKVDisplayEvents", ValueType::kDword, true, "0",
             "non-zero: a comment after each recovery"},
    KeyValue{u"activateVisualAcc", ValueType::kDword, true, "0",
             "non-zero: beeps, and a comment after each recovery"},
    KeyValue{u"activateKVXonStartup", ValueType::kDword, true, "0", "kept for the add-on"},
    KeyValue{u"startupDelay", ValueType::kDword, true, "0",
             "minutes from start-up to the first recovery"},
    KeyValue{u"tabDelay", ValueType::kDword, true, "0",
             "minutes from a tab selection to its recovery (0: six seconds)"},
    KeyValue{u"global", ValueType::kDword, true, "0",
             "non-zero: trim every process, keep running without a browser, refuse to exit"},
    KeyValue{u"primaryTimeout", ValueType::kDword, true, "1",
             "minutes between periodic recoveries"},
    KeyValue{u"activateKVXEventLogging", ValueType::kDword, true, "0",
             "non-zero: lifecycle events go to the Windows Event Log"},
    KeyValue{u"startKVX", ValueType::kDword, false, "0", "set to 0 at every exit"},
    KeyValue{u"kvxRestart", ValueType::kDword, false, "0", "set to 0 when the key is created"},
    KeyValue{u"activateEventComment", ValueType::kText, false, "", "the latest comment"},
    KeyValue{u"activateEventMemoryMetrics", ValueType::kText, false, "",
             "the latest memory figures"},
};

}  // namespace

std::span<const KeyValue> KeyValues() {
    return kValues;
}

const KeyValue* FindKeyValue(std::u16string_view name) {
    for (const auto& value : kValues) {
        if (value.name == name) {
            return &value;
        }
    }
    return nullptr;
}
