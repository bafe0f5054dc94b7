// Running the real dialog procedure on the scripted backend from a script.
//
// One action a line; '#' starts a comment line:
//   text ID TEXT      set control ID's text (all after the second blank), no notification
//   focus ID          move the keyboard focus to control ID
//   click ID          press push button ID as a mouse click does (focus first, then the command)
//   enter / escape    press that key in the focused control
//   open PATH | open cancel | save PATH | save cancel     answer the next picker
//   choose TAG | FORMAT | choose cancel                  answer the next format chooser
//   cancel-progress   answer the next progress update of a conversion with cancel
// The transcript has a line per event: box icon=none|stop caption="..." text="...",
// label ID "...", progress "NAME" cancelled, end RESULT.
#pragma once

#include <iosfwd>
#include <string>

namespace flow {

struct Result {
    int exitStatus = 0;       // the program's, or 2 for an error in the script
    std::string transcript;   // one line per event
    std::string errors;       // script errors
};

// Runs WavtrnMain with the scripted backend driven by the script.
Result RunScript(const std::string& script);

}  // namespace flow
