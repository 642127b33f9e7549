#pragma once
#include "app/uBaseTaskForm.h"

// Opens the conversion window: made on first use, shown modeless and brought to the front.
// Threads: user-interface thread only.
void ShowConvertTask(TComponent* Owner);
