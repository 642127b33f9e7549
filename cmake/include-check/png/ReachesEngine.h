// The PNG codec reaching past the byte layer into the engine: the check must refuse the second.
#pragma once
#include "audio/engine/AuBinary.h"
#include "audio/engine/AuClasses.h"
