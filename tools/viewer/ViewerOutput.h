// Where the viewer's messages go. Started from a script or a console, it has an error and an
// output stream, which get plain lines (UTF-8). Started from the desktop, a GUI program has
// neither, so an error becomes a message box instead of vanishing.
#pragma once

#include <string>

namespace viewer {

// "ZarvexViewer: <text>" on the error stream, or in a message box when there is none.
void ReportError(const std::wstring& text);
// One line on the output stream; nothing when there is none.
void ReportLine(const std::wstring& text);

} // namespace viewer
