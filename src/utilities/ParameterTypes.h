#pragma once

// Data type codes: the positions of the names in typeNameTexts (and typeNames).
enum ParameterType { NIL = 0, BOOLEAN = 1, INTEGER = 2, UNSIGNED = 3, REAL32 = 4, REAL32FIX = 5 };

// The fixed attribute name lists as UTF-8 texts in code order, without Qt, so that the
// command-line tools can use them; ParameterNames builds its lists from these. Constant
// data, so they are ready before any static initialisation that reads them.
struct NameTexts {
    const char* const* names;
    int count;
};

namespace nametexts {
inline constexpr const char* accessModes[] = {"RO", "WO", "RW", "CONST"};
inline constexpr const char* units[] = {"", "%", "мм", "с", "мс", "уп/мин", "уп", "шт", "ч"};
inline constexpr const char* types[] = {"NIL",      "BOOLEAN", "INTEGER",
                                        "UNSIGNED", "REAL32",  "REAL32FIX"};
inline constexpr const char* kinds[] = {"VAR", "ARRAY", "STRUCT", "COMPOSITE"};
inline constexpr const char* storages[] = {"UNSAVED", "COMMON", "PRIVATE"};
} // namespace nametexts

inline constexpr NameTexts accessModeNameTexts{nametexts::accessModes, 4};
inline constexpr NameTexts unitNameTexts{nametexts::units, 9};
inline constexpr NameTexts typeNameTexts{nametexts::types, 6};
inline constexpr NameTexts kindNameTexts{nametexts::kinds, 4};
inline constexpr NameTexts storageNameTexts{nametexts::storages, 3};
