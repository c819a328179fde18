#pragma once

class QSize;
class QWidget;

// Where the main window stands and how big it is, in the window system's terms.

// Makes the window's outer size, frame included, `outer`. Qt sizes the inside
// of a window, and the frame's size is known only once the window manager has
// framed the window: false until then, true once the size is set.
bool SetOuterSize(QWidget* window, const QSize& outer);

// Moves the window onto the edges of its screen's work area that it lies
// near (see SnapToWorkArea), the screen being the one it overlaps most.
void SnapToScreenEdges(QWidget* window);
