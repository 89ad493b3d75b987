#include "PSScript.h"
