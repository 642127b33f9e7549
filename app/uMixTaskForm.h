#pragma once
#include "app/uBaseTaskForm.h"

// Opens the mix window: made on first use, shown modeless and brought to the front.
// Threads: user-interface thread only.
void ShowMixTask(TComponent* Owner);
