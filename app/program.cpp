#include "app/program.h"

#include "Unit1/unit1.h"
#include "Unit2/unit2.h"
#include "common/application.h"
#include "platform/platform.h"

int RunProgram(platform::Platform& desktop) {
    InitApplication(desktop);
    TForm1 form1(desktop);
    TForm2 form2(desktop);
    return desktop.run(form1.window());
}
