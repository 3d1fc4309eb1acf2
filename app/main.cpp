#include "app/shell.h"
#include "ui/VELT_projekt.h"

int main(int argc, char* argv[]) {
    TApplication application(argc, argv);
    return velt::run_main_window([] { return Form1 = new TForm1; });
}
