#pragma once
// Windows, menu commands and the fixed texts of the application shell.

#include <string>
#include <vector>

class Fl_Widget;

extern const char* const feedbackAddress;
extern const char* const webAddress;

// The texts shown in the About and Help windows and the main window title.
const char* aboutText();
const char* helpText();
const char* mainWindowTitle();
// The lines of the keys and mouse window: a heading, then one line per
// mouse gesture, then per key, each "what the user does<TAB>what it does".
std::vector<std::string> keysAndMouseLines();
extern const char* const drawingAreaTitle;

// Menu commands.
void openFile(Fl_Widget* widget, void* data);
void closeFile(Fl_Widget* widget, void* data);
void quitProgram(Fl_Widget* widget, void* data);
void showAbout(Fl_Widget* widget, void* data);
void showHelp(Fl_Widget* widget, void* data);
void showKeys(Fl_Widget* widget, void* data);
void schemeNone(Fl_Widget* widget, void* data);
void schemeGtk(Fl_Widget* widget, void* data);
void schemePlastic(Fl_Widget* widget, void* data);
void exportSelected(Fl_Widget* widget, void* data);
void exportPicture(Fl_Widget* widget, void* data);
void exportSession(Fl_Widget* widget, void* data);

// Loads the chosen table, or restores the chosen session (.korvelline), or
// refuses it with a trace line. Returns whether a load ran.
bool openChosenPath(const char* path);

// Opens the table named on the command line; a name that does not exist is
// refused with a trace line.
void openStartFile(const std::string& path);

// Builds the windows and runs the main loop; returns main's exit status.
int runApplication(int argc, char** argv);
