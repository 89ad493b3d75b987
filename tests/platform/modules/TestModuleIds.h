// Class identifiers the Refusing test module answers to.
#pragma once

#include "platform/dshow/Guid.h"

inline constexpr CLSID CLSID_TestRefusingFactory{0x7E57F0AA, 0, 0, {0, 0, 0, 0, 0, 0, 0, 1}};
inline constexpr CLSID CLSID_TestEmptyAnswer{0x7E57F0AA, 0, 0, {0, 0, 0, 0, 0, 0, 0, 2}};
