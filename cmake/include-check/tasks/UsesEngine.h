// The task layer may use the engine.
#pragma once
#include "audio/engine/AuClasses.h"
