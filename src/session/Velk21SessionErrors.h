#ifndef VELK_VELK21SESSIONERRORS_H
#define VELK_VELK21SESSIONERRORS_H

// The texts shown for the error codes of Velk21Session::exchange, indexed by
// the code (UTF-8). Shared by the dialog and the command-line tools so that
// both say the same thing; the dialog passes each through tr().
inline constexpr int velk21SessionErrorCount = 9;

inline constexpr const char* velk21SessionErrorTexts[velk21SessionErrorCount] = {
    "Ошибок нет.",
    "Ошибка запаковки блока адресов.",
    "Ошибка запаковки блока данных.",
    "Ошибка запаковки расширенного блока данных.",
    "Ошибка передачи (тайм-аут).",
    "Ошибка приёма блока данных (тайм-аут).",
    "Ошибка распаковки принятого блока данных.",
    "Ошибка приёма расширенного блока данных (тайм-аут).",
    "Ошибка распаковки принятого расширенного блока данных.",
};

// The text of a code, or nullptr for a code outside 0 to 8.
inline const char* velk21SessionErrorText(int code) {
    return code >= 0 && code < velk21SessionErrorCount ? velk21SessionErrorTexts[code] : nullptr;
}

#endif
