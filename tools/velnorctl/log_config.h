// velnorctl's view of the logging configuration: which key the logger of a program would choose,
// its outputs, and in words why each one will or will not write. `log config` shows it all;
// `status` shows a line an output.
#pragma once

#include <string>

// `velnorctl log config [--app NAME]`: exit status 0 when at least one output will write, 1 when
// logging is off or none will, 2 on a usage error.
int logConfigCommand(int argc, char** argv);

// Prints the key the logger of `application` would choose and each output: every value of it
// (`details`), else one line with its verdict. Answers whether at least one output will write.
bool printOutputs(const std::string& application, bool details);

// Prints where the configuration comes from, each line the registry's reader skipped, and where
// the vendor library would be loaded from.
void printSources();

// The running program's executable file name, as the logger names a program.
std::string ownProgramName();
