// `velnorctl status`: which VelnorApi and vendor library are used, where the logging
// configuration comes from, and a verdict for each of velnorctl's outputs.
#pragma once

int statusCommand(int argc, char** argv);
