#include "app/shell.h"

#include <FL/Fl.H>
#include <FL/Fl_Browser.H>
#include <FL/Fl_File_Chooser.H>
#include <FL/Fl_Menu_Bar.H>
#include <FL/Fl_Menu_Window.H>
#include <FL/Fl_Multiline_Output.H>
#include <FL/Fl_Window.H>
#include <FL/fl_ask.H>
#include <FL/glut.H>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <cstdlib>
#include <memory>
#include <string>
#include <thread>

#include "app/command_line.h"
#include "app/records_window.h"
#include "app/textures.h"
#include "base/platform.h"
#include "data/load_progress.h"
#include "data/table.h"
#include "idle/idle.h"
#include "interaction/hover.h"
#include "interaction/input_help.h"
#include "interaction/interaction.h"
#include "plot/plot.h"
#include "render/display.h"
#include "render/overlays.h"
#include "render/picture.h"
#include "render/progress.h"
#include "render/record_layer.h"
#include "session/saved_view.h"
#include "session/session.h"

const char* const feedbackAddress = "korvelline-feedback@varnholm.org";
const char* const webAddress = "https://varnholm.org/korvelline";
const char* const drawingAreaTitle = "Korvelline   Varnholm   version beta 1.0";

namespace {

Fl_Menu_Window* aboutWindow = nullptr;
Fl_Menu_Window* helpWindow = nullptr;
Fl_Menu_Window* keysWindow = nullptr;
Fl_File_Chooser* fileChooser = nullptr;

const std::string& aboutTextStorage() {
    static const std::string text = std::string("Korvelline   Varnholm   version beta 0.1 \n") +
                                    "\n" + "feedback: " + feedbackAddress + " \n" + "\n" +
                                    "Varnholm \n" + "\n" + webAddress + "  \n" + "\n";
    return text;
}

const std::string& helpTextStorage() {
    static const std::string text =
        std::string("Varnholm\n") +
        "November 24, 2009\n"
        "\n"
        "1 Mouse Buttons\n"
        "\n"
        "1.1 Left Button\n"
        "  Most frequently used button.\n"
        "\t1. Click on the color palette with SHIFT pressed: Switch color space mode.\n"
        "\t2. Double Click on plain region: Toggle on/off scatter point plot.\n"
        "\t3. Click on dimension indicator: Select/Deselect corresponding dimension.\n"
        "\t4. Click on dimension indicator with CTRL pressed: Select/Deselect multiple "
        "dimensions.\n"
        "\t5. Double click on dimension indicator with CTRL pressed: Select all dimensions.\n"
        "\t6. Drag dimension indicators with ALT pressed: Put multiple dimensions' information "
        "into an MDS plot.\n"
        " \t\n"
        "  Note for free hand sketching:\n"
        "\ta. For selecting multiple points, the sketch circle must not close, but both ends "
        "need to be close.\n"
        "\tb. CTRL pressed for union set and SHIFT pressed for difference set.\n"
        "\t\n"
        "1.2 Middle Button\n"
        "\t1. Click on the axis or point: Highlight one data point.\n"
        "\t2. Scroll up/down: Change region width.\n"
        " \n"
        "2 Keyboard Input\n"
        "\t1. \"R\" & \"r\": Reset the program.\n"
        "\t2. \"Q\" & \"q\": Reset all axes' position and lock their position. Need to press "
        "once again to unlock.\n"
        "\t3. \"X\" & \"x\": Toggle on/off anti-aliasing.\n"
        "\t4. \"V\" & \"v\": Toggle on/off scatter plot at pointed region.\n"
        "\t5. \"N\" & \"n\": Restore simple scatter plot from an MDS plot.\n"
        "\t6. \"Page Up/Down\": Change background curves' opacity. \n"
        "\t7. \"Home/End\": Change point opacity.\n"
        "\n" +
        "feedback: " + feedbackAddress + " \n" + webAddress + "  \n";
    return text;
}

Fl_Menu_Item menuItems[] = {
    {"File", 0, nullptr, nullptr, FL_SUBMENU, 0, 0, 0, 0},
    {"Open", 0, openFile, nullptr, 0, 0, 0, 0, 0},
    {"Close", 0, closeFile, nullptr, 0, 0, 0, 0, 0},
    {"Quit", 0, quitProgram, nullptr, 0, 0, 0, 0, 0},
    {nullptr, 0, nullptr, nullptr, 0, 0, 0, 0, 0},
    {"Help", 0, nullptr, nullptr, FL_SUBMENU, 0, 0, 0, 0},
    {"About", 0, showAbout, nullptr, 0, 0, 0, 0, 0},
    {"Help", 0, showHelp, nullptr, 0, 0, 0, 0, 0},
    {"Keys and mouse", 0, showKeys, nullptr, 0, 0, 0, 0, 0},
    {"Scheme", 0, nullptr, nullptr, FL_SUBMENU, 0, 0, 0, 0},
    {"null", 0, schemeNone, nullptr, 0, 0, 0, 0, 0},
    {"gtk+", 0, schemeGtk, nullptr, 0, 0, 0, 0, 0},
    {"plastic", 0, schemePlastic, nullptr, 0, 0, 0, 0, 0},
    {nullptr, 0, nullptr, nullptr, 0, 0, 0, 0, 0},
    {nullptr, 0, nullptr, nullptr, 0, 0, 0, 0, 0},
    {"Export", 0, nullptr, nullptr, FL_SUBMENU, 0, 0, 0, 0},
    {"Selected records...", 0, exportSelected, nullptr, 0, 0, 0, 0, 0},
    {"Picture...", 0, exportPicture, nullptr, 0, 0, 0, 0, 0},
    {"Session...", 0, exportSession, nullptr, 0, 0, 0, 0, 0},
    {nullptr, 0, nullptr, nullptr, 0, 0, 0, 0, 0},
    {"View", 0, nullptr, nullptr, FL_SUBMENU, 0, 0, 0, 0},
    {"Records", 0, showRecords, nullptr, 0, 0, 0, 0, 0},
    {nullptr, 0, nullptr, nullptr, 0, 0, 0, 0, 0},
    {nullptr, 0, nullptr, nullptr, 0, 0, 0, 0, 0},
};

// Builds a read-only text window that stays hidden until its menu command.
Fl_Multiline_Output* buildTextWindow(Fl_Menu_Window& window, const char* text) {
    window.show();
    window.begin();
    auto* output = new Fl_Multiline_Output(0, 0, window.w(), window.h());
    output->value(text);
    window.end();
    window.hide();
    return output;
}

// The keys and mouse window: one line per row of the input table, under
// the headings "Mouse" and "Keys".
Fl_Browser* buildKeysWindow(Fl_Menu_Window& window) {
    window.begin();
    auto* list = new Fl_Browser(0, 0, window.w(), window.h());
    static const int columns[] = {350, 0};
    list->column_widths(columns);
    list->column_char('\t');
    list->textsize(12);
    for (const std::string& line : keysAndMouseLines()) list->add(line.c_str());
    window.end();
    window.resizable(list);
    return list;
}

// A name typed while the chooser's name field is all selected, as it is when
// the chooser opens, replaces the directory the field held; the chooser then
// takes the bare name for a path of its own and garbles it with each key.
// The name is put back into the chooser's directory, the cursor after it,
// before the chooser sees it.
Fl_Callback* chooserNameCallback = nullptr;
void* chooserNameData = nullptr;

void nameTyped(Fl_Widget* field, void* chooser) {
    auto* c = static_cast<Fl_File_Chooser*>(chooser);
    auto* input = static_cast<Fl_Input*>(field);
    const char* typed = input->value();
    const char* directory = c->directory();
    if (typed != nullptr && typed[0] != '\0' && typed[0] != '/' && typed[0] != '~' && typed[0] != '$' &&
        directory != nullptr && directory[0] == '/') {
        std::string path = directory;
        if (path.back() != '/') path += '/';
        path += typed;
        input->value(path.c_str());
        input->position(static_cast<int>(path.size()));
    }
    if (chooserNameCallback != nullptr) chooserNameCallback(field, chooserNameData);
}

// The chooser's name field, the one text input of its window.
Fl_File_Input* nameFieldOf(Fl_Group& group) {
    for (int k = 0; k < group.children(); ++k) {
        Fl_Widget* child = group.child(k);
        if (auto* input = dynamic_cast<Fl_File_Input*>(child)) return input;
        if (Fl_Group* inner = child->as_group())
            if (Fl_File_Input* input = nameFieldOf(*inner)) return input;
    }
    return nullptr;
}

int toolkitModifiers() {
    const int state = Fl::event_state();
    int modifiers = 0;
    if (state & FL_SHIFT) modifiers |= ModShift;
    if (state & FL_CTRL) modifiers |= ModCtrl;
    if (state & FL_ALT) modifiers |= ModAlt;
    return modifiers;
}

void glutKey(unsigned char key, int x, int y) { onKey(key, x, y); }

void glutEntry(int state) {
    if (state == GLUT_LEFT) noteHoverLeave();
}

int redrawRequests = 0;
constexpr double recordLayerSliceMs = 30.0;

void requestFrame() {
    ++redrawRequests;
    glutPostRedisplay();
}

// The toolkit calls the idle callback whenever no event is waiting. When the
// step moved nothing, a short pause keeps a resting viewer from spinning a
// core; events that arrive meanwhile wait at most that long.
void idleStep() {
    const int before = redrawRequests;
    onIdle();
    // A record layer too large for one frame is completed a slice at a
    // time, so input keeps being answered in between.
    if (advanceRecordLayer(recordLayerSliceMs)) requestRedraw();
    // A refusal to show, or one whose time in the window is up.
    if (messageBandChanged()) requestRedraw();
    // A hover search goes on a slice at a time; the records window follows
    // the plot. Neither waits for the pause while it has work.
    const bool working = advanceHoverDetails();
    followRecordsWindow();
    if (redrawRequests == before && !working) std::this_thread::sleep_for(std::chrono::milliseconds(8));
}

// Every file chooser is built here. The toolkit's preview reads the file
// name field's text across an event check that may free it; tables need no
// preview, so it stays off and its switch, which would turn it on, is gone.
std::unique_ptr<Fl_File_Chooser> buildChooser(const char* filter, int type, const char* title) {
    auto chooser = std::make_unique<Fl_File_Chooser>(".", filter, type, title);
    chooser->preview(0);
    chooser->previewButton->hide();
    if (Fl_File_Input* field = nameFieldOf(*chooser->previewButton->window())) {
        if (chooserNameCallback == nullptr) {
            chooserNameCallback = field->callback();
            chooserNameData = field->user_data();
        }
        field->callback(nameTyped, chooser.get());
    }
    return chooser;
}

// While a table loads, the window keeps answering: events are handled
// between the waits (the handlers find no plot, the commands that need one
// wait for the load), and once the load has run a while the drawing area
// shows how far it got.
void answerDuringLoad(double) {
    if (clockMs() - loadStartedMs() >= loadProgressDelayMs) glutPostRedisplay();
    // The records window says "loading" and lets the old table go.
    followRecordsWindow();
    Fl::check();
}

// The table named on the command line loads once the main loop runs, so the
// window is up before the load and can show its progress.
void openStartFileWhenShown(void* path) { openStartFile(*static_cast<const std::string*>(path)); }

// Asks for a file to write; confirms before replacing an existing one.
// Sessions typed without their extension get it. Empty when the user cancelled.
std::string chooseSavePath(const char* title, const char* filter, bool session = false) {
    const std::unique_ptr<Fl_File_Chooser> chooser = buildChooser(filter, Fl_File_Chooser::CREATE, title);
    chooser->show();
    while (chooser->shown()) Fl::wait();
    if (chooser->count() == 0 || chooser->value() == nullptr) return {};
    std::string path = chooser->value();
    if (session && !isSessionPath(path)) path += ".korvelline";
    std::error_code ignored;
    if (std::filesystem::exists(path, ignored) &&
        fl_choice("%s exists. Replace it?", "Cancel", "Replace", nullptr, path.c_str()) != 1)
        return {};
    return path;
}

}  // namespace

const char* aboutText() { return aboutTextStorage().c_str(); }

std::vector<std::string> keysAndMouseLines() {
    std::vector<std::string> lines{"@bMouse"};
    bool keys = false;
    for (const InputHelp& row : inputHelp()) {
        const bool key = row.characters[0] != '\0' || row.special[0] != 0;
        if (key && !keys) {
            lines.push_back("");
            lines.push_back("@bKeys");
            keys = true;
        }
        lines.push_back(std::string(row.input) + "\t" + row.action);
    }
    return lines;
}
const char* helpText() { return helpTextStorage().c_str(); }

const char* mainWindowTitle() {
    static const std::string title =
        std::string("Korvelline   Varnholm   version beta 0.1  ") + feedbackAddress;
    return title.c_str();
}

bool openChosenPath(const char* path) {
    if (isSessionPath(path)) {
        bool fading = hoverEmphasis;
        const bool restored = openSessionFrom(path, fading);
        hoverEmphasis = fading;
        // Whatever was loaded brought new axes: hover records of the old ones go.
        pruneHoverState();
        requestRedraw();
        return restored;
    }
    if (!setDataFileName(path)) {
        traceRefusal(" file path too long, not opened");
        return false;
    }
    loadDataFile();
    requestRedraw();
    return true;
}

void openStartFile(const std::string& path) {
    // The chooser only offers files that exist; a typed name may not.
    std::error_code error;
    if (!std::filesystem::exists(path, error)) {
        traceRefusal(" cannot open ", path, ", file not loaded");
        return;
    }
    openChosenPath(path.c_str());
}

void openFile(Fl_Widget*, void*) {
    if (loadInProgress()) return;
    fileChooser->filter(
        "TEXT Files (*.txt)\tCSV Files (*.csv)\tTSV Files (*.{tsv,tab})\tParquet Files (*.parquet)\t"
        "JSON Files (*.json)\tSession Files (*.korvelline)\t");
    fileChooser->show();
    while (fileChooser->shown()) Fl::wait();
    if (fileChooser->count() == 0 || fileChooser->value() == nullptr) return;
    openChosenPath(fileChooser->value());
}

void closeFile(Fl_Widget*, void*) {
    if (loadInProgress()) return;
    releasePlot();
    dataFileName[0] = '\0';
    recordCount = 0;
    dimensionCount = 0;
    shownDimensionCount = 0;
    loadDataFile();
    requestRedraw();
}

void quitProgram(Fl_Widget*, void*) {
    std::fflush(stdout);
    std::_Exit(0);
}

void exportSelected(Fl_Widget*, void*) {
    if (loadInProgress()) return;
    const std::string path = chooseSavePath("Export selected records", "TEXT Files (*.txt)\t");
    if (!path.empty()) exportSelectedRecordsTo(path);
}

void exportSession(Fl_Widget*, void*) {
    if (loadInProgress()) return;
    const std::string path = chooseSavePath("Save session", "Session Files (*.korvelline)\t", true);
    if (!path.empty()) saveSessionTo(path, hoverEmphasis);
}

void exportPicture(Fl_Widget*, void*) {
    if (loadInProgress()) return;
    const std::string path = chooseSavePath("Export picture", "PNG Files (*.png)\t");
    if (path.empty()) return;
    glut_window->make_current();
    exportPictureTo(path);
}

void showAbout(Fl_Widget*, void*) { aboutWindow->show(); }
void showHelp(Fl_Widget*, void*) { helpWindow->show(); }
void showKeys(Fl_Widget*, void*) { keysWindow->show(); }
void schemeNone(Fl_Widget*, void*) { Fl::scheme(""); }
void schemeGtk(Fl_Widget*, void*) { Fl::scheme("gtk+"); }
void schemePlastic(Fl_Widget*, void*) { Fl::scheme("plastic"); }

int runApplication(int argc, char** argv) {
    CommandLine commandLine = parseCommandLine(argc, argv);
    if (commandLine.showHelp) {
        std::fputs(usageText(), stdout);
        return 0;
    }
    if (!commandLine.error.empty()) {
        std::fprintf(stderr, "korvelline: %s\n%s", commandLine.error.c_str(), usageText());
        return 2;
    }

    installSessionHooks();
    installRecordLayerHooks();
    aboutWindow = new Fl_Menu_Window(700, 150, "About");
    helpWindow = new Fl_Menu_Window(800, 600, "Help");
    keysWindow = new Fl_Menu_Window(980, 640, "Korvelline keys and mouse");
    Fl_Multiline_Output* aboutOutput = buildTextWindow(*aboutWindow, aboutText());
    Fl_Multiline_Output* helpOutput = buildTextWindow(*helpWindow, helpText());
    Fl_Browser* keysList = buildKeysWindow(*keysWindow);

    auto* mainWindow = new Fl_Window(windowWidth, windowHeight + 20, mainWindowTitle());
    mainWindow->resizable(mainWindow);
    mainWindow->position(50, 50);
    Fl::scheme("plastic");

    loadDataFile();  // the empty table
    fileChooser = buildChooser("*", Fl_File_Chooser::SINGLE, "").release();

    mainWindow->show(static_cast<int>(commandLine.toolkitArgs.size()) - 1,
                     commandLine.toolkitArgs.data());
    mainWindow->begin();
    auto* menuBar = new Fl_Menu_Bar(0, 0, windowWidth, 20);
    menuBar->menu(menuItems);

    glutInitDisplayMode(GLUT_DOUBLE | GLUT_RGB);
    glutInitWindowSize(windowWidth, windowHeight);
    glutInitWindowPosition(0, 20);
    glutCreateWindow(const_cast<char*>(drawingAreaTitle));
    mainWindow->end();
    mainWindow->resizable(glut_window);

    initTextures();

    setRedrawHook(requestFrame);
    setModifierHook(toolkitModifiers);
    glutDisplayFunc(onDisplay);
    glutReshapeFunc(onReshape);
    glutKeyboardFunc(glutKey);
    glutSpecialFunc(onSpecialKey);
    glutMotionFunc(onMouseDrag);
    glutPassiveMotionFunc(onMouseHover);
    glutMouseFunc(onMouseButton);
    glutEntryFunc(glutEntry);
    glutIdleFunc(idleStep);
    setLoadWaitHook(answerDuringLoad);
    if (!commandLine.file.empty()) Fl::add_timeout(0.0, openStartFileWhenShown, &commandLine.file);

    glutMainLoop();

    // A sort of the records window reads the table: it stops before anything goes.
    closeRecordsWindow();
    setLoadWaitHook(nullptr);
    setRedrawHook(nullptr);
    delete menuBar;
    delete mainWindow;
    delete aboutOutput;
    delete helpOutput;
    delete keysList;
    return 0;
}
