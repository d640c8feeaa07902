#pragma once

#include <istream>
#include <ostream>

#include "Alert.h"

// Where the answers come from. Typed at a terminal, an answer that names no
// button that can be chosen is asked again. Piped in, it ends the dialog
// without a choice: a script's answer must never land on another button when
// the titles read otherwise than it expected. None: a command-line option
// already chose, so the alert is only shown.
enum class AnswerSource { Terminal, Pipe, None };

// Draws the alert as text and reads the answer, a button's number or title,
// one line at a time; Enter alone chooses a lone button that can be chosen.
// The end of input, or a line longer than 4 KiB, dismisses the dialog: no
// choice when it has buttons, acknowledgement when it only has the default
// one. A rejected answer is shown escaped, so its bytes cannot drive the
// terminal.
int runTerminalAlert(const Alert& alert, AnswerSource source, std::istream& in, std::ostream& out);
