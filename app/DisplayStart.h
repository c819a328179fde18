#pragma once

// Readies the window system for the QApplication about to be made: the
// platforms chosen by ChooseDisplay, and a handler that turns Qt's abort on a
// display it cannot open (after its fatal message, or after a warning that
// QT_FATAL_WARNINGS makes fatal) into one line on standard error and exit
// status 1. False, after printing the line, when there is no display at all.
bool PrepareDisplay();

// Once the QApplication exists: Qt's messages go to standard error again, and
// the notice of a limited platform is printed when the window ended up there.
void DisplayOpened();
