#include "app/main_routine.h"

int main() { return app::ProgramEntry(); }
