#include "shell/viewer_state.h"

ViewerState Viewer;
