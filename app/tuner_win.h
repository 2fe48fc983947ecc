#pragma once
// The program's run from launch to exit code.
int RunTuner(int argc, char** argv);
