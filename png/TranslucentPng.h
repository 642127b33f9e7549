// PNG resources as premultiplied 32-bit bitmaps, the form the skin is drawn from.
#pragma once
#include "classlib/SysUtils.h"

class TPNGObject;

// The RT_RCDATA resource Name (a name, or an id made with MAKEINTRESOURCE) of the program's own
// module as a top-down 32-bit DIB section of premultiplied blue, green, red, alpha; the caller owns
// the returned HBITMAP. The image must have partial transparency (an alpha channel or graded
// palette alphas), else Exception "LoadTranslucentPng: image has no transparency information".
// Threads: any thread.
void* LoadTranslucentPng(const char* Name);
// The same for a loaded image; EPNGOutMemory when the DC or the DIB section cannot be made.
// Threads: any thread.
void* CreatePremultipliedBitmap(TPNGObject* Image);
