#include "uMediaFormats.h"
