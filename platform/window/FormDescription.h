#pragma once

#include <QtCore/QString>

#include <vector>

// A window as it is stored with the program: captions, initial values and a
// layout in twips (1440 to the inch). The host builds the window from it.
//
// Controls that are not shown at run time and have no position that matters
// (a timer) carry their stored values all the same.
struct ControlDescription
{
    enum class Kind { TextBox, CommandButton, Timer };

    QString name;
    Kind kind = Kind::TextBox;
    int left = 0;   // twips
    int top = 0;    // twips
    int width = 0;  // twips
    int height = 0; // twips
    QString value;  // a text box's text, a button's caption
    int tabIndex = -1; // -1: not in the tab order
    int interval = 0;  // timers only, in milliseconds
    bool enabled = true;
    // What assistive technology says of the control. A button without a
    // name of its own is called by its caption.
    QString accessibleName;
    QString accessibleDescription;
};

struct FormDescription
{
    QString name;
    QString caption;
    int clientWidth = 0;  // twips
    int clientHeight = 0; // twips
    std::vector<ControlDescription> controls;
};

// The stored layout assumes 96 dots per inch, 15 twips to the pixel; Qt scales
// device-independent pixels for other screens.
constexpr int twipsToPixels(int twips)
{
    return twips / 15;
}
