// The component classes that the program's window layouts store, made known to the layout reader.
#pragma once

// Registers the widgets and the archive component (the standard controls register themselves).
void RegisterProgramClasses();
