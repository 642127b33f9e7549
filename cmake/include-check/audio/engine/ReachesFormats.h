// The engine reaching into a format: the check must refuse it.
#pragma once
#include "audio/engine/AuClasses.h"
#include "audio/formats/wave/AuWave.h"
