// Which of the two run modes a command line asks for.
#pragma once

#include <string>
#include <vector>

enum class RunMode { inspect, app };

// Inspect mode for exactly one argument after the program path, equal to
// "--inspect"; app mode for everything else, including an empty list.
RunMode chooseRunMode(const std::vector<std::string>& arguments);

// The same choice for the process's own command line, made without
// allocating anything: the process knows how it has to end before anything
// can run out.
RunMode chooseProcessRunMode();
