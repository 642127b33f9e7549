// A device reaching into a format: the check must refuse it.
#pragma once
#include "audio/formats/wave/AuWave.h"
