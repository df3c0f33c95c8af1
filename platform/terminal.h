#pragma once
// The terminals a run's standard streams may be: whether standard error or standard output is
// one, and how many columns it shows. A program asks once at its entry and hands the answers to
// the run (platform::Units), so a run started by a test never draws on the developer's terminal.

namespace platform {

enum class StandardStream { output, error };

// True when the stream is a terminal (a console, a pseudo-terminal).
bool is_terminal(StandardStream stream);

// The number of columns the terminal behind the stream shows now (it changes when the window is
// resized); 0 when the stream is no terminal or the terminal does not tell.
int terminal_columns(StandardStream stream);

}  // namespace platform
