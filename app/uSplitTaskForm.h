#pragma once
#include "app/uBaseTaskForm.h"

// Opens the split window (the split and the cut tools): made on first use, shown modeless and brought to the front.
// Threads: user-interface thread only.
void ShowSplitTask(TComponent* Owner);
