#include "app/program_classes.h"

#include "archive/compress.h"
#include "widgets/widget_classes.h"

void RegisterProgramClasses() {
    RegisterWidgetClasses();
    RegisterArchiveClasses();
}
