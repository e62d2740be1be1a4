#include "Form1Description.h"

using namespace Qt::StringLiterals;

FormDescription form1Description()
{
    using Kind = ControlDescription::Kind;
    return FormDescription{
        .name = u"Form1"_s,
        .caption = u"Form1"_s,
        .clientWidth = 3690,
        .clientHeight = 3135,
        .controls = {
            {.name = u"Text1"_s, .kind = Kind::TextBox,
             .left = 180, .top = 240, .width = 3255, .height = 1875,
             .value = u"Text1"_s, .tabIndex = 0,
             .accessibleName = u"Received text"_s,
             .accessibleDescription = u"Every character received on the serial line, as it arrived; editable"_s},
            {.name = u"Command1"_s, .kind = Kind::CommandButton,
             .left = 900, .top = 2400, .width = 795, .height = 435,
             .value = u"Open"_s, .tabIndex = 1,
             .accessibleDescription = u"Opens or closes the serial port; its caption names what it will do"_s},
            {.name = u"Command2"_s, .kind = Kind::CommandButton,
             .left = 1800, .top = 2400, .width = 795, .height = 435,
             .value = u"Quit"_s, .tabIndex = 2,
             .accessibleDescription = u"Ends the program"_s},
            // Comm1, the serial control, sits at 0, 2160 and is not shown at
            // run time; Form1 owns it beside the window.
            {.name = u"Timer1"_s, .kind = Kind::Timer,
             .left = 0, .top = 2760, .interval = 500, .enabled = false},
        },
    };
}
