#pragma once
// The records window, "Korvelline records": the line "N of M records" over a
// table of the records Export/"Selected records..." writes, of which only
// the rows in view are drawn, from the records table (listing/records_table.h)
// it follows between events. Closed, it keeps its size and position and
// nothing else.

class Fl_Widget;

// Shows or hides the window as the records table says and redraws what
// changed; call between events. True when the window changed.
bool followRecordsWindow();
// Menu View/Records.
void showRecords(Fl_Widget* widget, void* data);
// At the end of the program: stops a sort and lets the window go.
void closeRecordsWindow();
