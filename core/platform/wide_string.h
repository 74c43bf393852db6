#ifndef KORVO_CORE_PLATFORM_WIDE_STRING_H_
#define KORVO_CORE_PLATFORM_WIDE_STRING_H_

#include <string>
#include <string_view>

// UTF-16 text as the OS and Qt see it. wchar_t is 32 bits on Linux, so the
// library keeps UTF-16 in char16_t units everywhere: the type says exactly
// what the units are, and it maps one to one onto QString.
using WString = std::u16string;
using WStringView = std::u16string_view;

#endif  // KORVO_CORE_PLATFORM_WIDE_STRING_H_
