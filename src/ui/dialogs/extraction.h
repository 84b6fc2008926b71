// The Extract command: the folder dialog, then every chosen resource
// written into the folder under the wait cursor, with the progress in the
// status bar and the questions and reports in message boxes.
#pragma once

namespace kestrel {

class KSMainFrame;

// Does nothing when no document is open.
void extractResources(KSMainFrame& frame);

}  // namespace kestrel
