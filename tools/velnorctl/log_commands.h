// velnorctl's log commands: show a log file as UTF-8 text, and show the logging configuration
// that the library's own logger would find. They read with the core library's own code.
#pragma once

int logCommand(int argc, char** argv);
