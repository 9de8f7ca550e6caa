// The two meter-face pictures, loaded by name from the pictures the program
// carries with it. Each is loaded on first use and kept for the run; while a
// load fails it stays none and the next use tries again.
#pragma once

#include "framework/picture.h"

fw::Picture MXR420H();
fw::Picture MXR420V();

// Loads the picture of this name from the program's resources, in the
// resolution that suits the screen (a double-size drawing on high-density
// screens); none when there is no such picture.
fw::Picture OpenPictureFromApp(const char* name);
