// The PNG codec may use the byte layer.
#pragma once
#include "audio/engine/AuBinary.h"
