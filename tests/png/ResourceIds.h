// Ids of the RCDATA fixtures in Resources.rc.
#pragma once
#define ID_RGBA8 101
#define ID_RGBA16 102
#define ID_RGBA8_ADAM7 103
#define ID_GA8 104
#define ID_GA16 105
#define ID_PAL1 106
#define ID_PAL2 107
#define ID_PAL4 108
#define ID_PAL8 109
#define ID_PAL_KEY 110
#define ID_PAL_SINGLE 111
#define ID_RGB 112
#define ID_RGB_KEY 113
#define ID_BROKEN 114
