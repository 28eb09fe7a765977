// The switch list: the command line split into items, and the switches in it.
#pragma once

#include <string>
#include <vector>

// Splits a command line into items. Blanks (codes 1 to 32) and "," separate
// items; an item that begins with a double quote runs to the next single
// double quote, with doubled quotes inside standing for one.
std::vector<std::string> SplitCommandLine(const std::string& text);

// Builds the switch list from a command line (at start-up). Switch items
// (first character "/" or "-") have their name lower-cased; the value behind
// the first "=" keeps its letter case.
void InitParmU(const std::string& commandLine);
void FinalParmU();

const std::vector<std::string>& SwitchList();

// True when some switch's name equals `name`, ASCII letters compared without
// regard to case. "Exp" matches neither "-Expo" nor "--exp".
bool FindSwitch(const std::string& name);

// Sets `value` to the text behind "=" of the first switch named `name`
// (empty when it has no "="); leaves it unchanged when there is none.
void SwitchValue(const std::string& name, std::string& value);

// The first item after the program's own path that is neither empty nor a switch named in
// `known` (names compared as FindSwitch compares them), as it was typed; false when there is none.
bool FindUnknownItem(const std::vector<std::string>& known, std::string* item);
