// A header of the engine that reaches up into the task layer: the check must refuse it.
#pragma once
#include "classlib/Classes.h"
#include "tasks/Utils.h"
