#include "app/uSplitTaskForm.h"

void ShowSplitTask(TComponent*) {}
