#include "app/startup.h"

int main() { return RunProgram(); }
