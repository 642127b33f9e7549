#include "app/uRecordOverMusicTaskForm.h"

void ShowRecordTask(TComponent*) {}
