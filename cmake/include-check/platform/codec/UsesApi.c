/* A library built here may use its C interface, which its binding shares. */
#include "audio/formats/wave/WaveApi.h"
