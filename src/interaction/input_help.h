#pragma once
// Every key and mouse gesture of the drawing area, one row each: the Help
// menu's "Keys and mouse" window lists these rows, and the tests of the
// keyboard handler check every key it answers against them. A new key is
// one more row in input_help.cpp.

#include <vector>

struct InputHelp {
    const char* input;       // as the user does it: "W", "Page Up / Page Down", "Wheel"
    const char* action;      // what it does, on one line
    const char* characters;  // the character keys it covers, upper case as onKey folds them ("" for none)
    int special[2];          // the special keys it covers (0 for none)
};

// The rows in the order the window lists them: the mouse first, then the keys.
const std::vector<InputHelp>& inputHelp();

// The row covering a character key (folded to upper case) or a special key;
// null when no row does.
const InputHelp* helpForKey(unsigned char key);
const InputHelp* helpForSpecialKey(int key);
