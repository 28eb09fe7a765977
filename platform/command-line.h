// The Windows form of a command line, for platforms that pass the arguments as a vector.
#pragma once

#include <string>
#include <vector>

// The arguments joined by single spaces; an argument with a blank or a double quote in it, or an
// empty one, is written inside double quotes with each double quote doubled, so that the
// command-line splitter gives it back as one item.
std::string JoinArguments(const std::vector<std::string>& args);
