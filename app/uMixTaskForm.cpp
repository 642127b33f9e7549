#include "app/uMixTaskForm.h"

void ShowMixTask(TComponent*) {}
