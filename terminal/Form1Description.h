#pragma once

#include "FormDescription.h"

// Form1 as stored with the program.
FormDescription form1Description();
