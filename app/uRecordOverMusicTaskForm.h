#pragma once
#include "app/uBaseTaskForm.h"

// Opens the record window: made on first use, shown modeless and brought to the front.
// Threads: user-interface thread only.
void ShowRecordTask(TComponent* Owner);
