#pragma once

#include <string>

// UTF-8 of a wide string: UTF-16 where wchar_t has 16 bits (Windows), UTF-32
// where it has 32 (Linux). An unpaired surrogate becomes U+FFFD.
std::string utf8FromWide(const std::wstring& text);
