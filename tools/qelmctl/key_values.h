#pragma once

#include <cstdint>
#include <span>
#include <string_view>

// The values of the shared key as the add-on knows them.
enum class ValueType { kDword, kText };

struct KeyValue {
    std::u16string_view name;
    ValueType type;
    bool isSetting;  // false: status written by the companion, not to be set from outside
    std::string_view defaultValue;  // as created with the key; empty when never created
    std::string_view meaning;
};

// Every value in the order the add-on's documentation lists them.
std::span<const KeyValue> KeyValues();

// The value of that registry name (compared exactly, as the companion writes it), or null.
const KeyValue* FindKeyValue(std::u16string_view name);
