#pragma once

// Windows-1251, the code page of the bus's text bytes: the character a byte
// stands for. Bytes below 0x80 are ASCII; 0x98, the one byte the code page
// leaves undefined, gives U+FFFD.
char32_t windows1251ToUnicode(unsigned char byte);
