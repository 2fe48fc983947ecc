#include "app/tuner_win.h"

int main(int argc, char** argv) { return RunTuner(argc, argv); }
