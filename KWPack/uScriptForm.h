// The script window and the script component it holds (uKWScript.h).
#pragma once

#include "KWPack/uKWScript.h"
