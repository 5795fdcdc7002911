#include "arguments.h"

std::vector<std::string> commandLineArguments(int argc, char** argv) {
    return std::vector<std::string>(argv, argv + argc);
}

void appendFileArgument(const std::string& argument, std::vector<std::string>& files) {
    files.push_back(argument);
}
