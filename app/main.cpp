#include "ConvertApp.h"
#include "ExitSignals.h"
#include "PagePreview.h"

int main(int argc, char** argv) {
    // Interrupt, terminate and hang-up end the window at once, but never
    // leave a page folder (the preview's kept ones included) or half-written
    // output behind.
    varnel::HandleExitSignals([](int) {
        CPagePreview::RemoveKeptFoldersForExit();
        return false;
    });
    CConvertApp app;
    return app.Run(argc, argv);
}
