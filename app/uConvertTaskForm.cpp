#include "app/uConvertTaskForm.h"

void ShowConvertTask(TComponent*) {}
