// What the message layer needs of the system; one implementation per platform.
#pragma once

#include <cstdint>
#include <optional>

#include "util/xstring.h"

namespace corv::platform {

// String `id` of `module` (none: the program's own table), converted from the
// ANSI code page; none when the module has no such string.
std::optional<XString> LoadMessageString(void* module, int id);
uint32_t LastError();
uint32_t ThreadLocale();
void SetThreadLocale(uint32_t lcid);
// The first code-page field of the desktop font's character set.
uint32_t DesktopFontCodePages();
bool IsLocaleInstalled(uint32_t lcid);

}  // namespace corv::platform
