#include "ui/frame/FrameWindow.h"

FrameWindow* gp_frameWindow = nullptr;
bool g_showIsOver = false;
