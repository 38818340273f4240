// The options panel under the 360 open dialog: the display method, the
// left/right exchange and the choice of the user's own browser.
#pragma once

class QWidget;

// The panel ("OPENSS"): radio buttons "1430".."1438" for the nine display
// methods, box "3141" for the exchange and box "1209" for the browser.
// Set from Viewer.n360mode, Viewer.n360swap and `useBrowser`; a change is
// kept at once (the method and the exchange also in the settings store),
// whatever the dialog's outcome.
QWidget* CreateOptionsPanel(QWidget* parent, bool& useBrowser);
