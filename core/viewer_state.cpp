#include "core/viewer_state.h"

ViewerState Viewer;
