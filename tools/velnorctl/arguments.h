// The command line as the commands read it: UTF-8 texts whatever the system's code page, and
// file arguments with their wildcards expanded where no shell expands them. One file per
// system: arguments_windows.cpp, arguments_posix.cpp.
#pragma once

#include <string>
#include <vector>

// The arguments, the program's name first. On Windows they are read again from the system as
// UTF-16 (main's `argv` is in the ANSI code page, which cannot hold every name); elsewhere they
// are main's, bytes as the shell passed them.
std::vector<std::string> commandLineArguments(int argc, char** argv);

// Appends the files that a file argument names. On Windows, as cmd.exe leaves wildcards to the
// program: a '*' or '?' in its last part matches the files (not folders) of that folder, in
// byte order of their UTF-8 names, each with the argument's folder part; an argument that
// matches none stays as it is, so that reading it says why. Elsewhere the shell has expanded
// them and the argument is appended as it is.
void appendFileArgument(const std::string& argument, std::vector<std::string>& files);
