#include "ConvertApp.h"
#include "ExitSignals.h"

int main(int argc, char** argv) {
    // Interrupt, terminate and hang-up end the window at once, but never
    // leave a page folder or half-written output behind.
    varnel::HandleExitSignals(nullptr);
    CConvertApp app;
    return app.Run(argc, argv);
}
