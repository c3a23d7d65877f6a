#pragma once

// The widget's generated form (its outlets), for code outside this library: including the generated
// header directly would make that target's own uic look for the form.
#include "ui_WXDesktopWindow.h"
