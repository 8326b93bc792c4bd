// Ids of Fenwick's icon resources, shared by the resource script and the program.
#pragma once

// The program's icon: the first icon of the file is what the shell shows for it.
#define IDI_PROGRAM 1
// The same icon again: JUCE registers its window class with the file's first icon as the large
// one and its second as the small one.
#define IDI_PROGRAM_SMALL 2
