// The byte layer reaching into the tag sets, which stand on it: the check must refuse it.
#pragma once
#include "classlib/Classes.h"
#include "audio/tags/AuTags.h"
