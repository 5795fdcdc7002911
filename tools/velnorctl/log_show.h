// velnorctl log show: log files as UTF-8 text or JSON Lines, several files merged into one
// timeline, filtered, and followed while they grow.
#pragma once

// Runs `log show` with argv[first...] as its arguments; answers the exit status: 0, 1 when a
// file could not be read whole or the output could not be written, 2 on a usage error
// (`usage` prints the message with the usage text and answers 2).
int logShow(int argc, char** argv, int first, int (*usage)(const char*));
