#pragma once
// The player loop: runs until a quit key.
void RunPlayerLoop();
