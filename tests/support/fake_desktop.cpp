// The fake desktop is defined in its header; this unit keeps the build lists that name it.
#include "support/fake_desktop.h"
