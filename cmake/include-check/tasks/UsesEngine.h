// The task layer may use the engine.
#pragma once
#include "audio/AuClasses.h"
