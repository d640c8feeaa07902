#pragma once

#include <istream>
#include <ostream>

#include "Alert.h"

// Draws the alert as text and reads the answer, a button's number or title,
// one line at a time, of which only the first 4 KiB count; Enter alone
// chooses a lone button that can be chosen. A disabled or unknown answer asks
// again. End of input
// dismisses the dialog: no choice when it has buttons, acknowledgement when
// it only has the default one.
int runTerminalAlert(const Alert& alert, std::istream& in, std::ostream& out);
