// The tag sets may use the byte layer.
#pragma once
#include "audio/engine/AuBinary.h"
#include "classlib/Classes.h"
