#include "program_classes.h"

#include "compress.h"
#include "widget_classes.h"

void RegisterProgramClasses() {
    RegisterWidgetClasses();
    RegisterArchiveClasses();
}
