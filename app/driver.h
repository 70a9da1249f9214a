// The program's entry: the top of the program, which nothing else includes.
#pragma once

// Runs one whole run. Returns only when the feed update hands back control
// or the last-resort guard fired.
void Main();
