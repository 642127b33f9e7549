// A format may use the engine, the byte layer and the tag sets.
#pragma once
#include "audio/engine/AuBinary.h"
#include "audio/engine/AuClasses.h"
#include "audio/tags/AuTags.h"
